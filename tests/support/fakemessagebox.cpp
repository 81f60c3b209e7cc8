#include "fakemessagebox.h"

int FakeMessageBox::show(const QString &prompt, int style, const std::optional<QString> &title)
{
    shown.append({prompt, style, title});
    if (onShow)
        onShow(shown.last());
    return errors::MsgBoxResultOk;
}
