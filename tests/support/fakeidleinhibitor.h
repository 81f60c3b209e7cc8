#pragma once

#include "strobe/idleinhibitor.h"

#include <QPointer>

// Records what the strobe holds: whether idle is held off, for which window,
// and whether that window was still on screen when it was let go.
class FakeIdleInhibitor final : public strobe::IdleInhibitor
{
public:
    void inhibit(QWidget &window) override;
    void release() override;

    bool held = false;
    QPointer<QWidget> window;
    int inhibits = 0;
    int releases = 0;
    bool shownAtInhibit = true;
    bool shownAtRelease = true;
};
