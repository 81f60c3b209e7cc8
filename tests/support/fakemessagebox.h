#pragma once

#include "messagebox.h"

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

    QList<Shown> shown;
    // Runs while a box is "open", to look at the program in that moment.
    std::function<void(const Shown &)> onShow;
};
