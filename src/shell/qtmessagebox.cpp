#include "shell/qtmessagebox.h"

#include "shell/endrequests.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace shell {

namespace {

QMessageBox::Icon iconFor(int style)
{
    switch (style & errors::MsgBoxStyle::IconMask) {
    case errors::MsgBoxStyle::Critical:
        return QMessageBox::Critical;
    case errors::MsgBoxStyle::Question:
        return QMessageBox::Question;
    case errors::MsgBoxStyle::Exclamation:
        return QMessageBox::Warning;
    case errors::MsgBoxStyle::Information:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

QString QtMessageBox::forDisplay(QString prompt)
{
    prompt.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    prompt.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return prompt;
}

int QtMessageBox::show(const QString &prompt, int style, const std::optional<QString> &title)
{
    // The program is ending: a box would hold its end until someone answers.
    if (endRequested())
        return errors::MsgBoxResultOk;
    QMessageBox box;
    box.setWindowTitle(title.value_or(QCoreApplication::applicationName()));
    box.setTextFormat(Qt::PlainText);
    box.setText(forDisplay(prompt));
    box.setIcon(iconFor(style));
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return errors::MsgBoxResultOk;
}

} // namespace shell
