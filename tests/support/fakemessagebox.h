#pragma once

#include "errors/messagebox.h"

#include <QList>

#include <functional>

// Records every message instead of showing it; nothing waits for a person.
class FakeMessageBox final : public errors::MessageBox
{
public:
    struct Shown
    {
        QString prompt;
        int style = 0;
        std::optional<QString> title;
    };

    int show(const QString &prompt, int style, const std::optional<QString> &title) override;
    // The line numbers of the error reports shown so far.
    QList<int> reportedLines() const;

    QList<Shown> shown;
    // Runs while each box is shown, as if something happened meanwhile.
    std::function<void()> whileShown;
};
