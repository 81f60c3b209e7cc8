#include "fakeidleinhibitor.h"

#include <QWidget>

void FakeIdleInhibitor::inhibit(QWidget &shown)
{
    shownAtInhibit = shownAtInhibit && shown.isVisible();
    held = true;
    window = &shown;
    ++inhibits;
}

void FakeIdleInhibitor::release()
{
    if (!held)
        return;
    shownAtRelease = shownAtRelease && window && window->isVisible();
    held = false;
    window = nullptr;
    ++releases;
}
