#include "shell/form1.h"
#include "ui_form1.h"

#include "errors/failure.h"
#include "errors/guard.h"
#include "errors/messagebox.h"
#include "errors/report.h"
#include "files/globals.h"
#include "layouts/applicationicon.h"
#include "layouts/framestyle.h"
#include "layouts/screenreader.h"
#include "settings/optionindex.h"
#include "settings/savequeue.h"
#include "settings/settingsstore.h"
#include "shell/cursorfile.h"
#include "shell/homepage.h"
#include "shell/mainmodule.h"
#include "shell/platform.h"
#include "skin/applyskin.h"
#include "skin/skinframework.h"
#include "strobe/form2.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalBlocker>
#include <QWindow>

namespace shell {

namespace {

const QString kApplication = QStringLiteral("Quarnel");

QString helpText()
{
    return QStringLiteral("Press 'ESC' on the keyboard to exit full screen mode.")
           + QStringLiteral("\r\n\r\n")
           + QStringLiteral("Questions? Please contact Team Quarnel at ")
           + contactPageAddress().toString();
}

} // namespace

Form1::Form1(Platform &platform, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint)
    , m_ui(std::make_unique<Ui::Form1>())
    , m_platform(platform)
    , m_saves(std::make_unique<settings::SaveQueue>(platform.settingsStore(),
                                                    platform.savesInBackground()
                                                        ? settings::SaveQueue::Mode::Background
                                                        : settings::SaveQueue::Mode::Immediate))
{
    m_ui->setupUi(this);
    connect(m_saves.get(), &settings::SaveQueue::failed, this, [this](const QString &why) {
        tellStoreTroubleOnce(
            QStringLiteral("Your choice could not be saved.\r\n\r\n%1.\r\n\r\n"
                           "It stays in effect until you close the program, but it will "
                           "not be remembered next time.")
                .arg(why));
    });
    describeForScreenReaders();
    setFixedSize(size());
    for (QGroupBox *frame : {m_ui->Frame3, m_ui->Frame4})
        layouts::showOwnBackgroundInside(*frame);
    // Designer files hold whole point sizes only; the buttons use 11.25 pt.
    for (QPushButton *button : {m_ui->PushButton1, m_ui->PushButton2}) {
        QFont font = button->font();
        font.setPointSizeF(11.25);
        button->setFont(font);
    }
    auto *skinFramework = new skin::SkinFramework(this);
    skinFramework->setObjectName(QStringLiteral("SkinFramework1"));
    m_skinFramework = skinFramework;

    setMouseTracking(true);
    for (QWidget *watched :
         {static_cast<QWidget *>(this), static_cast<QWidget *>(m_ui->Frame3),
          static_cast<QWidget *>(m_ui->Frame4), static_cast<QWidget *>(m_ui->PushButton1),
          static_cast<QWidget *>(m_ui->PushButton2)})
        watched->installEventFilter(this);

    // Code that changes a selection blocks these and raises Click itself.
    connect(m_ui->Combo1, &QComboBox::currentIndexChanged, this, &Form1::Combo1_Click);
    connect(m_ui->Combo2, &QComboBox::currentIndexChanged, this, &Form1::Combo2_Click);
    connect(m_ui->Combo1, &QComboBox::editTextChanged, this, &Form1::Combo1_Change);
    connect(m_ui->Combo2, &QComboBox::editTextChanged, this, &Form1::Combo2_Change);
    connect(m_ui->PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(m_ui->PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    m_ui->Combo1->setFocus();
}

void Form1::describeForScreenReaders()
{
    layouts::announceAsWindow(*this);
    layouts::announceList(
        *m_ui->Combo1, m_ui->Frame3->title(),
        QStringLiteral("The strobe's colours: Classic Strobe Light flashes black and white, "
                       "Random Colors cycles through six colours."));
    layouts::announceList(
        *m_ui->Combo2, m_ui->Frame4->title(),
        QStringLiteral("How fast the strobe changes colour: Slow, Medium or Fast."));
    m_ui->PushButton1->setAccessibleDescription(
        QStringLiteral("Tells how to stop the strobe and how to contact us."));
    m_ui->PushButton2->setAccessibleDescription(
        QStringLiteral("Flashes the whole screen until you press Escape."));
}

Form1::~Form1() = default;

bool Form1::finishSaving(int timeoutMs)
{
    return m_saves->finish(timeoutMs);
}

QString Form1::programFile(const QString &name) const
{
    return Globals::ProgramPath(m_platform.programFolder(), name);
}

void Form1::Form_Load()
{
    errors::Guard guard(m_platform.messageBox(), errors::handlerLocation("Form1", "Form_Load"));
    guard.step(100, [&] { skin::ApplySkin(*this, *m_skinFramework, m_platform.programFolder()); });
    if (guard.test(
            104, [&] { return Globals::FileExists(programFile(QStringLiteral("\\HAND-M.CUR"))); }))
        guard.step(106, [&] { loadMouseIcon(); });
    guard.step(108, [&] { openHomePageOccasionally(m_platform); });
    guard.step(126, [&] { setWindowTitle(Main::productName()); });
    guard.step(126, [&] { setWindowIcon(layouts::applicationIcon()); });
    guard.step(126, [&] { Main::SetApplicationTitle(); });
    guard.step(128, [&] { appendEntry(m_ui->Combo1, QStringLiteral("Classic Strobe Light")); });
    guard.step(130, [&] { appendEntry(m_ui->Combo1, QStringLiteral("Random Colors")); });
    guard.step(132, [&] { appendEntry(m_ui->Combo2, QStringLiteral("Slow")); });
    guard.step(134, [&] { appendEntry(m_ui->Combo2, QStringLiteral("Medium")); });
    guard.step(136, [&] { appendEntry(m_ui->Combo2, QStringLiteral("Fast")); });
    guard.step(138,
               [&] { restoreList(m_ui->Combo1, QStringLiteral("Combo1"), &Form1::Combo1_Click); });
    guard.step(140,
               [&] { restoreList(m_ui->Combo2, QStringLiteral("Combo2"), &Form1::Combo2_Click); });
}

void Form1::showCentred()
{
    centreFrame();
    // A window manager adds its frame only once the window is shown.
    m_centringFrame = true;
    show();
    if (QWindow *window = windowHandle()) {
        m_pixelRatio = window->devicePixelRatio();
        connect(window, &QWindow::screenChanged, this, &Form1::keepSizeOnScreen,
                Qt::UniqueConnection);
    }
}

void Form1::keepSizeOnScreen()
{
    // On X11 a window keeps its size in device pixels when it moves to a
    // monitor of another scale, which would cut the layout off or leave it in
    // a corner; the window takes its layout's size in the new monitor's pixels.
    QWindow *window = windowHandle();
    if (!window || window->devicePixelRatio() == m_pixelRatio)
        return;
    m_pixelRatio = window->devicePixelRatio();
    window->resize(minimumSize());
}

void Form1::centreFrame()
{
    const QRect area = screen()->availableGeometry();
    const QSize frame = frameGeometry().size();
    const QPoint topLeft(area.x() + (area.width() - frame.width()) / 2,
                         area.y() + (area.height() - frame.height()) / 2);
    move(topLeft);
}

void Form1::moveEvent(QMoveEvent *event)
{
    if (m_centringFrame && frameGeometry().size() != size()) {
        m_centringFrame = false;
        centreFrame();
    }
    QWidget::moveEvent(event);
}

void Form1::loadMouseIcon()
{
    m_mouseIcon.reset();
    m_mouseIcon = loadCursorFile(programFile(QStringLiteral("\\HAND-M.CUR")));
    applyPointer();
}

void Form1::appendEntry(QComboBox *list, const QString &text)
{
    // Qt selects the first entry added to an empty list; appending must leave
    // the selection, and the store, alone.
    const QSignalBlocker blocker(list);
    const int before = list->currentIndex();
    list->addItem(text);
    list->setCurrentIndex(before);
}

void Form1::restoreList(QComboBox *list, const QString &key, void (Form1::*click)())
{
    const qint16 index = settings::toOptionIndex(storedListIndex(key));
    const int before = list->currentIndex();
    if (index != -1 && (index < 0 || index >= list->count())) {
        const QSignalBlocker blocker(list);
        list->setCurrentIndex(-1);
        throw errors::Failure(errors::Description::invalidPropertyValue());
    }
    {
        const QSignalBlocker blocker(list);
        list->setCurrentIndex(index);
    }
    if (before != index)
        (this->*click)();
}

QString Form1::storedListIndex(const QString &key)
{
    const QString absent = QStringLiteral("0");
    try {
        return m_saves->get(kApplication, Main::productName(), key, absent);
    } catch (const settings::Unreadable &failure) {
        tellStoreTroubleOnce(
            QStringLiteral("Your stored choices could not be read.\r\n\r\n%1.\r\n\r\n"
                           "The lists start with their first entries, and the file is left as "
                           "it is: choices you make now will not be remembered next time.")
                .arg(failure.description()));
        return absent;
    }
}

void Form1::storeListIndex(const QComboBox *list, const QString &key)
{
    const QString value = settings::fromOptionIndex(static_cast<qint16>(list->currentIndex()));
    m_saves->save(kApplication, Main::productName(), key, value);
}

// The choices stay in effect for this run whatever the store does; say so
// once rather than at every change.
void Form1::tellStoreTroubleOnce(const QString &message)
{
    if (m_storeTroubleShown)
        return;
    m_storeTroubleShown = true;
    m_platform.messageBox().show(
        message, errors::MsgBoxStyle::OkOnly | errors::MsgBoxStyle::Exclamation, std::nullopt);
}

void Form1::Combo1_Click()
{
    storeListIndex(m_ui->Combo1, QStringLiteral("Combo1"));
}

void Form1::Combo1_Change()
{
    storeListIndex(m_ui->Combo1, QStringLiteral("Combo1"));
}

void Form1::Combo2_Click()
{
    storeListIndex(m_ui->Combo2, QStringLiteral("Combo2"));
}

void Form1::Combo2_Change()
{
    storeListIndex(m_ui->Combo2, QStringLiteral("Combo2"));
}

void Form1::setMousePointer(qint16 kind)
{
    m_mousePointer = kind;
    applyPointer();
}

void Form1::applyPointer()
{
    if (m_mousePointer == MousePointer::Hourglass)
        setCursor(Qt::WaitCursor);
    else if (m_mousePointer == MousePointer::Custom && m_mouseIcon)
        setCursor(*m_mouseIcon);
    else
        unsetCursor();
}

void Form1::pointerOverBackground()
{
    if (m_mousePointer != MousePointer::Hourglass)
        setMousePointer(MousePointer::Default);
}

void Form1::pointerOverButton()
{
    if (m_mousePointer != MousePointer::Hourglass)
        setMousePointer(MousePointer::Custom);
}

void Form1::Form_MouseMove()
{
    pointerOverBackground();
}

void Form1::Frame3_MouseMove()
{
    pointerOverBackground();
}

void Form1::Frame4_MouseMove()
{
    pointerOverBackground();
}

void Form1::PushButton1_MouseMove()
{
    pointerOverButton();
}

void Form1::PushButton2_MouseMove()
{
    pointerOverButton();
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress
        && (watched == m_ui->PushButton1 || watched == m_ui->PushButton2))
        return pressedWithEnter(static_cast<QPushButton *>(watched),
                                *static_cast<QKeyEvent *>(event));
    // A move that a child ignored travels on to its parents; each handler
    // answers only for moves over its own widget.
    if (event->type() == QEvent::MouseMove
        && !static_cast<QWidget *>(watched)->childAt(
            static_cast<QMouseEvent *>(event)->position().toPoint())) {
        if (watched == this)
            Form_MouseMove();
        else if (watched == m_ui->Frame3)
            Frame3_MouseMove();
        else if (watched == m_ui->Frame4)
            Frame4_MouseMove();
        else if (watched == m_ui->PushButton1)
            PushButton1_MouseMove();
        else if (watched == m_ui->PushButton2)
            PushButton2_MouseMove();
    }
    return QWidget::eventFilter(watched, event);
}

bool Form1::pressedWithEnter(QPushButton *button, const QKeyEvent &key)
{
    // Qt leaves Enter to a dialog's default button; here it presses the button
    // that has the focus, as Space does, and no button is a default one.
    if (key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter)
        return false;
    if (!key.isAutoRepeat())
        button->click();
    return true;
}

void Form1::PushButton1_Click()
{
    errors::Guard guard(m_platform.messageBox(),
                        errors::handlerLocation("Form1", "PushButton1_Click"));
    guard.step(100, [&] {
        m_platform.messageBox().show(helpText(), errors::MsgBoxStyle::OkOnly, std::nullopt);
    });
}

void Form1::PushButton2_Click()
{
    errors::Guard guard(m_platform.messageBox(),
                        errors::handlerLocation("Form1", "PushButton2_Click"));
    guard.step(100, [&] {
        if (!m_form2) {
            m_form2 = std::make_unique<strobe::Form2>(m_platform.messageBox(), *this,
                                                      m_platform.idleInhibitor());
            m_form2->setMainWindow(this);
        }
        m_form2->Show(screen());
    });
}

void Form1::Form_Unload()
{
    if (m_form2)
        m_form2->Unload();
    m_platform.endProgram();
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

qint16 Form1::styleIndex() const
{
    return static_cast<qint16>(m_ui->Combo1->currentIndex());
}

qint16 Form1::speedIndex() const
{
    return static_cast<qint16>(m_ui->Combo2->currentIndex());
}

} // namespace shell
