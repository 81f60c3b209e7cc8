#include "shell/mainwindow.h"
#include "ui_mainwindow.h"

#include "errors/failure.h"
#include "errors/guard.h"
#include "errors/messagebox.h"
#include "errors/report.h"
#include "files/globals.h"
#include "layouts/applicationicon.h"
#include "layouts/framestyle.h"
#include "layouts/objectnames.h"
#include "layouts/screenreader.h"
#include "settings/optionindex.h"
#include "settings/savequeue.h"
#include "settings/settingsstore.h"
#include "settings/storedchoices.h"
#include "shell/cursorfile.h"
#include "shell/homepage.h"
#include "shell/mainmodule.h"
#include "shell/onscreen.h"
#include "shell/platform.h"
#include "skin/applyskin.h"
#include "skin/skinframework.h"
#include "strobe/strobe.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalBlocker>
#include <QWindow>

namespace shell {

namespace {

// Error reports name the window, the handler and the step's line as they
// always have, so that a report reads the same from one version to the next.
namespace report {

constexpr char kWindow[] = "Form1";

namespace setUp {
constexpr char kHandler[] = "Form_Load";
constexpr quint16 kApplySkin = 100;
constexpr quint16 kFindPointerFile = 104;
constexpr quint16 kLoadPointer = 106;
constexpr quint16 kOpenHomePage = 108;
// The caption, the window icon and the application title are one step in the
// reports: a failure in any of them names the same line.
constexpr quint16 kTitleAndIcon = 126;
constexpr quint16 kAddClassicStyle = 128;
constexpr quint16 kAddRandomStyle = 130;
constexpr quint16 kAddSlowSpeed = 132;
constexpr quint16 kAddMediumSpeed = 134;
constexpr quint16 kAddFastSpeed = 136;
constexpr quint16 kRestoreStyle = 138;
constexpr quint16 kRestoreSpeed = 140;
} // namespace setUp

namespace showHelp {
constexpr char kHandler[] = "PushButton1_Click";
constexpr quint16 kShowHelp = 100;
} // namespace showHelp

namespace startStrobe {
constexpr char kHandler[] = "PushButton2_Click";
constexpr quint16 kShowStrobe = 100;
} // namespace startStrobe

} // namespace report

QString helpText()
{
    return QStringLiteral("Press 'ESC' on the keyboard to exit full screen mode.")
           + QStringLiteral("\r\n\r\n")
           + QStringLiteral("Questions? Please contact Team Quarnel at ")
           + contactPageAddress().toString();
}

} // namespace

MainWindow::MainWindow(Platform &platform, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint)
    , m_ui(std::make_unique<Ui::MainWindow>())
    , m_platform(platform)
    , m_saves(std::make_unique<settings::SaveQueue>(platform.settingsStore(),
                                                    platform.savesInBackground()
                                                        ? settings::SaveQueue::Mode::Background
                                                        : settings::SaveQueue::Mode::Immediate))
{
    m_ui->setupUi(this);
    nameForSkins();
    connect(m_saves.get(), &settings::SaveQueue::failed, this, [this](const QString &why) {
        tellStoreTroubleOnce(
            QStringLiteral("Your choice could not be saved.\r\n\r\n%1.\r\n\r\n"
                           "It stays in effect until you close the program, but it will "
                           "not be remembered next time.")
                .arg(why));
    });
    describeForScreenReaders();
    setFixedSize(size());
    for (QGroupBox *frame : {m_ui->styleFrame, m_ui->speedFrame})
        layouts::showOwnBackgroundInside(*frame);
    // Designer files hold whole point sizes only; the buttons use 11.25 pt.
    for (QPushButton *button : {m_ui->helpButton, m_ui->startButton}) {
        QFont font = button->font();
        font.setPointSizeF(11.25);
        button->setFont(font);
    }
    auto *skinFramework = new skin::SkinFramework(this);
    skinFramework->setObjectName(skin::SkinFramework::kName);
    m_skinFramework = skinFramework;

    setMouseTracking(true);
    for (QWidget *watched :
         {static_cast<QWidget *>(this), static_cast<QWidget *>(m_ui->styleFrame),
          static_cast<QWidget *>(m_ui->speedFrame), static_cast<QWidget *>(m_ui->helpButton),
          static_cast<QWidget *>(m_ui->startButton)})
        watched->installEventFilter(this);

    // Code that changes a selection blocks these and saves the choice itself.
    connect(m_ui->styleList, &QComboBox::currentIndexChanged, this, &MainWindow::saveStyle);
    connect(m_ui->speedList, &QComboBox::currentIndexChanged, this, &MainWindow::saveSpeed);
    connect(m_ui->styleList, &QComboBox::editTextChanged, this, &MainWindow::saveStyle);
    connect(m_ui->speedList, &QComboBox::editTextChanged, this, &MainWindow::saveSpeed);
    connect(m_ui->helpButton, &QPushButton::clicked, this, &MainWindow::showHelp);
    connect(m_ui->startButton, &QPushButton::clicked, this, &MainWindow::startStrobe);
    m_ui->styleList->setFocus();
}

void MainWindow::nameForSkins()
{
    namespace name = layouts::objectName;
    setObjectName(name::kMainWindow);
    m_ui->helpButton->setObjectName(name::kHelpButton);
    m_ui->styleFrame->setObjectName(name::kStyleFrame);
    m_ui->styleList->setObjectName(name::kStyleList);
    m_ui->speedFrame->setObjectName(name::kSpeedFrame);
    m_ui->speedList->setObjectName(name::kSpeedList);
    m_ui->startButton->setObjectName(name::kStartButton);
}

void MainWindow::describeForScreenReaders()
{
    layouts::announceAsWindow(*this);
    layouts::announceList(
        *m_ui->styleList, m_ui->styleFrame->title(),
        QStringLiteral("The strobe's colours: Classic Strobe Light flashes black and white, "
                       "Random Colors cycles through six colours."));
    layouts::announceList(
        *m_ui->speedList, m_ui->speedFrame->title(),
        QStringLiteral("How fast the strobe changes colour: Slow, Medium or Fast."));
    m_ui->helpButton->setAccessibleDescription(
        QStringLiteral("Tells how to stop the strobe and how to contact us."));
    // A paragraph wraps in a tooltip; plain text would stand on one long line.
    m_ui->startButton->setToolTip(
        QStringLiteral("<p>%1</p>").arg(layouts::strobeWarning().toHtmlEscaped()));
    m_ui->startButton->setAccessibleDescription(layouts::strobeWarning());
    setAccessibleDescription(
        QStringLiteral("Choose a strobe style and a speed, then Start Strobing. The strobe "
                       "flashes the whole screen; Escape stops it."));
}

MainWindow::~MainWindow()
{
    // Off the screen before the saves still under way are waited for.
    hide();
}

bool MainWindow::finishSaving(int timeoutMs)
{
    return m_saves->finish(timeoutMs);
}

QString MainWindow::programFile(const QString &name) const
{
    return Globals::ProgramPath(m_platform.programFolder(), name);
}

void MainWindow::setUp()
{
    // A request to end (a box's loop ends with it) stops start-up at once.
    try {
        setUpSteps();
    } catch (const errors::Abandon &) {
    }
}

void MainWindow::setUpSteps()
{
    namespace line = report::setUp;
    errors::Guard guard(m_platform.messageBox(),
                        errors::handlerLocation(report::kWindow, line::kHandler),
                        [this] { return m_platform.endRequested(); });
    guard.step(line::kApplySkin,
               [&] { skin::ApplySkin(*this, *m_skinFramework, m_platform.programFolder()); });
    if (guard.test(line::kFindPointerFile, [&] {
            return Globals::FileExists(programFile(QStringLiteral("\\HAND-M.CUR")));
        }))
        guard.step(line::kLoadPointer, [&] { loadMouseIcon(); });
    guard.step(line::kOpenHomePage, [&] { openHomePageOccasionally(m_platform); });
    guard.step(line::kTitleAndIcon, [&] { setWindowTitle(productName()); });
    guard.step(line::kTitleAndIcon, [&] { setWindowIcon(layouts::applicationIcon()); });
    guard.step(line::kTitleAndIcon, [&] { setApplicationTitle(); });
    guard.step(line::kAddClassicStyle,
               [&] { appendEntry(m_ui->styleList, QStringLiteral("Classic Strobe Light")); });
    guard.step(line::kAddRandomStyle,
               [&] { appendEntry(m_ui->styleList, QStringLiteral("Random Colors")); });
    guard.step(line::kAddSlowSpeed, [&] { appendEntry(m_ui->speedList, QStringLiteral("Slow")); });
    guard.step(line::kAddMediumSpeed,
               [&] { appendEntry(m_ui->speedList, QStringLiteral("Medium")); });
    guard.step(line::kAddFastSpeed, [&] { appendEntry(m_ui->speedList, QStringLiteral("Fast")); });
    guard.step(line::kRestoreStyle, [&] {
        restoreList(m_ui->styleList, settings::stored::kStyleKey, &MainWindow::saveStyle);
    });
    guard.step(line::kRestoreSpeed, [&] {
        restoreList(m_ui->speedList, settings::stored::kSpeedKey, &MainWindow::saveSpeed);
    });
}

void MainWindow::showCentred()
{
    centreFrame();
    // A window manager adds its frame only once the window is shown.
    m_centringFrame = true;
    show();
    if (!m_keptOnScreen) {
        m_keptOnScreen = true;
        keepOnScreen(*this);
    }
    if (QWindow *window = windowHandle()) {
        m_pixelRatio = window->devicePixelRatio();
        connect(window, &QWindow::screenChanged, this, &MainWindow::keepSizeOnScreen,
                Qt::UniqueConnection);
    }
}

void MainWindow::keepSizeOnScreen()
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

void MainWindow::centreFrame()
{
    const QRect area = screen()->availableGeometry();
    const QSize frame = frameGeometry().size();
    const QPoint topLeft(area.x() + (area.width() - frame.width()) / 2,
                         area.y() + (area.height() - frame.height()) / 2);
    move(topLeft);
}

void MainWindow::moveEvent(QMoveEvent *event)
{
    if (m_centringFrame && frameGeometry().size() != size()) {
        m_centringFrame = false;
        centreFrame();
    }
    QWidget::moveEvent(event);
}

void MainWindow::loadMouseIcon()
{
    m_mouseIcon.reset();
    m_mouseIcon = loadCursorFile(programFile(QStringLiteral("\\HAND-M.CUR")));
    applyPointer();
}

void MainWindow::appendEntry(QComboBox *list, const QString &text)
{
    // Qt selects the first entry added to an empty list; appending must leave
    // the selection, and the store, alone.
    const QSignalBlocker blocker(list);
    const int before = list->currentIndex();
    list->addItem(text);
    list->setCurrentIndex(before);
}

void MainWindow::restoreList(QComboBox *list, const QString &key, void (MainWindow::*save)())
{
    const QString stored = storedListIndex(key);
    // Its box may have been answered by a request to end.
    if (m_platform.endRequested())
        throw errors::Abandon{};
    const qint16 index = settings::toOptionIndex(stored);
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
        (this->*save)();
}

QString MainWindow::storedListIndex(const QString &key)
{
    const QString absent = QStringLiteral("0");
    try {
        return m_saves->get(settings::stored::kApplication, productName(), key, absent);
    } catch (const settings::Unreadable &failure) {
        tellStoreTroubleOnce(
            QStringLiteral("Your stored choices could not be read.\r\n\r\n%1.\r\n\r\n"
                           "The lists start with their first entries, and the file is left as "
                           "it is: choices you make now will not be remembered next time.")
                .arg(failure.description()));
        return absent;
    }
}

void MainWindow::storeListIndex(const QComboBox *list, const QString &key)
{
    // Saves asked for before the request are still written; none after it.
    if (m_platform.endRequested())
        return;
    const QString value = settings::fromOptionIndex(static_cast<qint16>(list->currentIndex()));
    m_saves->save(settings::stored::kApplication, productName(), key, value);
}

// The choices stay in effect for this run whatever the store does; say so
// once rather than at every change.
void MainWindow::tellStoreTroubleOnce(const QString &message)
{
    if (m_storeTroubleShown)
        return;
    m_storeTroubleShown = true;
    m_platform.messageBox().show(
        message, errors::MsgBoxStyle::OkOnly | errors::MsgBoxStyle::Exclamation, std::nullopt);
}

void MainWindow::saveStyle()
{
    storeListIndex(m_ui->styleList, settings::stored::kStyleKey);
}

void MainWindow::saveSpeed()
{
    storeListIndex(m_ui->speedList, settings::stored::kSpeedKey);
}

void MainWindow::setMousePointer(qint16 kind)
{
    m_mousePointer = kind;
    applyPointer();
}

void MainWindow::applyPointer()
{
    // The hand belongs to the push buttons; the lists and frames keep their
    // own pointer. The wait pointer covers the whole window.
    const bool hand = m_mousePointer == MousePointer::Custom && m_mouseIcon;
    for (QPushButton *button : {m_ui->helpButton, m_ui->startButton}) {
        if (hand)
            button->setCursor(*m_mouseIcon);
        else
            button->unsetCursor();
    }
    if (m_mousePointer == MousePointer::Hourglass)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void MainWindow::pointerOverBackground()
{
    if (m_mousePointer != MousePointer::Hourglass)
        setMousePointer(MousePointer::Default);
}

void MainWindow::pointerOverButton()
{
    if (m_mousePointer != MousePointer::Hourglass)
        setMousePointer(MousePointer::Custom);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress
        && (watched == m_ui->helpButton || watched == m_ui->startButton))
        return pressedWithEnter(static_cast<QPushButton *>(watched),
                                *static_cast<QKeyEvent *>(event));
    // A move that a child ignored travels on to its parents; each handler
    // answers only for moves over its own widget.
    if (event->type() == QEvent::MouseMove
        && !static_cast<QWidget *>(watched)->childAt(
            static_cast<QMouseEvent *>(event)->position().toPoint())) {
        if (watched == m_ui->helpButton || watched == m_ui->startButton)
            pointerOverButton();
        else
            pointerOverBackground();
    }
    return QWidget::eventFilter(watched, event);
}

bool MainWindow::pressedWithEnter(QPushButton *button, const QKeyEvent &key)
{
    // Qt leaves Enter to a dialog's default button; here it presses the button
    // that has the focus, as Space does, and no button is a default one.
    if (key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter)
        return false;
    if (!key.isAutoRepeat())
        button->click();
    return true;
}

void MainWindow::showHelp()
{
    namespace line = report::showHelp;
    errors::Guard guard(m_platform.messageBox(),
                        errors::handlerLocation(report::kWindow, line::kHandler));
    guard.step(line::kShowHelp, [&] {
        m_platform.messageBox().show(helpText(), errors::MsgBoxStyle::OkOnly, std::nullopt);
    });
}

void MainWindow::startStrobe()
{
    namespace line = report::startStrobe;
    errors::Guard guard(m_platform.messageBox(),
                        errors::handlerLocation(report::kWindow, line::kHandler));
    guard.step(line::kShowStrobe, [&] {
        if (!m_strobe) {
            m_strobe = std::make_unique<strobe::Strobe>(m_platform.messageBox(), *this,
                                                        m_platform.idleInhibitor());
            m_strobe->setMainWindow(this);
        }
        m_strobe->show(screen());
    });
}

void MainWindow::closeProgram()
{
    if (m_strobe)
        m_strobe->unload();
    m_platform.endProgram();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    closeProgram();
    event->accept();
}

qint16 MainWindow::styleIndex() const
{
    return static_cast<qint16>(m_ui->styleList->currentIndex());
}

qint16 MainWindow::speedIndex() const
{
    return static_cast<qint16>(m_ui->speedList->currentIndex());
}

} // namespace shell
