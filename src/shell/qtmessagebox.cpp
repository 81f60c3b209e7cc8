#include "shell/qtmessagebox.h"

#include "shell/endrequests.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QtMath>

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

// QMessageBox wraps its text at 500 pixels at most, and a wrap may fall after
// any slash of an address: someone copying it could miss the rest. The label
// is made wide enough for each line that holds an address, within the screen.
void keepAddressLinesWhole(QMessageBox &box, const QString &text)
{
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    if (!label)
        return;
    const QFontMetricsF metrics(label->font());
    int widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (line.contains(QStringLiteral("://")))
            widest = qMax(widest, qCeil(metrics.horizontalAdvance(line)));
    }
    if (widest == 0)
        return;
    // Room for the box's margins and icon beside the label.
    constexpr int kBesideLabel = 120;
    if (const QScreen *screen = box.screen())
        widest = qMin(widest, screen->availableGeometry().width() - kBesideLabel);
    // The text's layout keeps a pixel at the end of a line for the caret.
    label->setMinimumWidth(widest + label->margin() * 2 + 2);
}

} // namespace

QString QtMessageBox::forDisplay(QString prompt)
{
    prompt.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    prompt.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return prompt;
}

void QtMessageBox::prepare(QMessageBox &box, const QString &prompt, int style,
                           const std::optional<QString> &title)
{
    box.setWindowTitle(title.value_or(QCoreApplication::applicationName()));
    box.setTextFormat(Qt::PlainText);
    box.setText(forDisplay(prompt));
    keepAddressLinesWhole(box, box.text());
    box.setIcon(iconFor(style));
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
}

int QtMessageBox::show(const QString &prompt, int style, const std::optional<QString> &title)
{
    // The program is ending: a box would hold its end until someone answers.
    if (endRequested())
        return errors::MsgBoxResultOk;
    QMessageBox box;
    prepare(box, prompt, style, title);
    box.exec();
    return errors::MsgBoxResultOk;
}

} // namespace shell
