#include "shell/qtmessagebox.h"

#include "shell/endrequests.h"

#include <QCoreApplication>
#include <QEvent>
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

// The widest a label may be in a box on a screen whose free area is
// screenWidth wide. Qt never makes a box wider than the screen on screens up
// to 1024 pixels wide, nor wider than 1000 pixels or the screen less 480 on
// wider ones; a label wider than the box is cut off at its edge.
int widestLabel(int screenWidth)
{
    const int widestBox = screenWidth <= 1024 ? screenWidth : qMin(screenWidth - 480, 1000);
    // Room for the box's margins and icon beside the label.
    constexpr int kBesideLabel = 120;
    return widestBox - kBesideLabel;
}

// QMessageBox wraps its text at 500 pixels at most, and a wrap may fall after
// any slash of an address: someone copying it could miss the rest. The label
// is made wide enough for each line that holds an address, as far as the box
// can grow on the screen it is shown on.
class AddressLinesWhole final : public QObject
{
public:
    AddressLinesWhole(QMessageBox &box, QLabel &label, int widest)
        : QObject(&box)
        , m_box(box)
        , m_label(label)
        , m_widest(widest)
    {
        fit();
        box.installEventFilter(this);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        // Before the box sizes itself for the screen it now stands on.
        if (event->type() == QEvent::Show)
            fit();
        return false;
    }

private:
    void fit()
    {
        int widest = m_widest;
        if (const QScreen *screen = m_box.screen())
            widest = qMin(widest, widestLabel(screen->availableGeometry().width()));
        // The text's layout keeps a pixel at the end of a line for the caret.
        m_label.setMinimumWidth(qMax(0, widest) + m_label.margin() * 2 + 2);
    }

    QMessageBox &m_box;
    QLabel &m_label;
    int m_widest;
};

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
    if (widest > 0)
        new AddressLinesWhole(box, *label, widest);
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
