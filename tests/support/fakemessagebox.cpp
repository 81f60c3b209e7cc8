#include "fakemessagebox.h"

int FakeMessageBox::show(const QString &prompt, int style, const std::optional<QString> &title)
{
    shown.append({prompt, style, title});
    if (whileShown)
        whileShown();
    return errors::MsgBoxResultOk;
}

QList<int> FakeMessageBox::reportedLines() const
{
    QList<int> lines;
    for (const Shown &one : shown) {
        const qsizetype at = one.prompt.indexOf(QStringLiteral("at line "));
        if (at >= 0 && one.title == QStringLiteral("Application Error"))
            lines << one.prompt.mid(at + 8).section(QLatin1Char('\r'), 0, 0).toInt();
    }
    return lines;
}
