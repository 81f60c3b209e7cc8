#pragma once

#include "errors/messagebox.h"

namespace shell {

// Message boxes on QMessageBox. Bare carriage returns in a prompt are shown as
// line breaks.
class QtMessageBox final : public errors::MessageBox
{
public:
    int show(const QString &prompt, int style, const std::optional<QString> &title) override;

    static QString forDisplay(QString prompt);
};

} // namespace shell
