#pragma once

#include "errors/messagebox.h"

class QMessageBox;

namespace shell {

// Message boxes on QMessageBox. Bare carriage returns in a prompt are shown as
// line breaks, and a line that holds a web address is kept whole.
class QtMessageBox final : public errors::MessageBox
{
public:
    int show(const QString &prompt, int style, const std::optional<QString> &title) override;

    static QString forDisplay(QString prompt);
    // Sets up a box as show() shows it, for tests to look at without a modal loop.
    static void prepare(QMessageBox &box, const QString &prompt, int style,
                        const std::optional<QString> &title);
};

} // namespace shell
