#include "strobefixture.h"

#include "layouts/applicationicon.h"
#include "layouts/colorvalue.h"
#include "layouts/screenreader.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QScreen>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace strobetest;
using strobe::Strobe;
namespace ColorValue = layouts::ColorValue;

// The strobe window as the user meets it: its icon, the screen it covers and
// holds awake, the ways out, failures and the warning.
class TestStrobeWindow final
    : public QObject
    , private StrobeFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init() { setUpStrobe(); }
    void cleanup() { tearDownStrobe(); }

    void everyOpeningSharesTheProgramIcon();
    void idleHeldWhileShown_data();
    void idleHeldWhileShown();
    void coversTheScreen();
    void waysOutGiveTheKeyboardBack_data();
    void waysOutGiveTheKeyboardBack();
    void failuresAreReportedAndCarryOn();
    void warningGivesTheRates_data();
    void warningGivesTheRates();
};

// A window icon of its own at each opening left the window system's copies of
// its pixmaps in Qt's cache, under a key never used again: memory grew with
// every Start.
void TestStrobeWindow::everyOpeningSharesTheProgramIcon()
{
    const qint64 programIcon = layouts::applicationIcon().cacheKey();
    for (int opening = 0; opening < 3; ++opening) {
        showStrobe();
        QPointer<QWidget> window = m_strobe->window();
        QCOMPARE(window->windowIcon().cacheKey(), programIcon);
        press(*m_strobe, 27);
        QTRY_VERIFY(window.isNull());
    }
}

void TestStrobeWindow::idleHeldWhileShown_data()
{
    QTest::addColumn<QString>("close");
    for (const char *close : {"Escape", "window manager", "unload", "destroyed"})
        QTest::newRow(close) << QString::fromLatin1(close);
}

void TestStrobeWindow::idleHeldWhileShown()
{
    QFETCH(QString, close);

    for (int opening = 1; opening <= 2; ++opening) {
        showStrobe();
        QVERIFY(m_idle.held);
        QCOMPARE(m_idle.window.data(), m_strobe->window());
        // Bringing it forward holds nothing more.
        m_strobe->show(QGuiApplication::primaryScreen());
        QCOMPARE(m_idle.inhibits, opening);
        if (close == u"Escape")
            press(*m_strobe, 27);
        else if (close == u"window manager")
            m_strobe->window()->close();
        else if (close == u"unload")
            m_strobe->unload();
        else
            m_strobe.reset();
        QVERIFY(!m_idle.held);
        QCOMPARE(m_idle.releases, opening);
        if (!m_strobe)
            break;
    }
    // Held on a window on screen, let go before it left the screen.
    QVERIFY(m_idle.shownAtInhibit);
    QVERIFY(m_idle.shownAtRelease);
}

void TestStrobeWindow::coversTheScreen()
{
    m_options.style = 1;
    showStrobe();
    QWidget *window = m_strobe->window();
    // An ordinary window for the window manager, listed by a name that says
    // how to leave it.
    QCOMPARE(window->windowFlags(), Qt::Window | Qt::FramelessWindowHint);
    QVERIFY(window->isFullScreen());
    QCOMPARE(window->windowTitle(), u"Lumivex strobe light, press Escape to exit"_s);
    QCOMPARE(window->geometry(), QGuiApplication::primaryScreen()->geometry());
    // A screen reader announces a window that says how to leave it.
    QAccessibleInterface *announced = QAccessible::queryAccessibleInterface(window);
    QCOMPARE(announced->role(), QAccessible::Window);
    QVERIFY(announced->text(QAccessible::Name).contains(u"press Escape to exit"_s));
    QVERIFY(announced->text(QAccessible::Description).contains(u"Escape"_s));
    QTRY_VERIFY(window->isActiveWindow());
    m_strobe->step();
    const QImage image = window->grab().toImage();
    QCOMPARE(image.pixelColor(image.rect().center()), QColor(Qt::red));
    QCOMPARE(image.pixelColor(image.rect().bottomRight()), QColor(Qt::red));
}

void TestStrobeWindow::waysOutGiveTheKeyboardBack_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Escape") << true;
    QTest::newRow("window manager's close") << false;
}

// Whichever way the strobe goes, the main window has the keyboard again, even
// when something else had it in between.
void TestStrobeWindow::waysOutGiveTheKeyboardBack()
{
    QFETCH(bool, escape);
    QWidget mainWindow;
    QWidget other;
    mainWindow.show();
    other.show();
    m_strobe->setMainWindow(&mainWindow);
    showStrobe();
    QPointer<QWidget> window = m_strobe->window();
    QTRY_VERIFY(window->isActiveWindow());
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());
    // Nothing takes the keyboard back to the strobe.
    QCoreApplication::processEvents();
    QVERIFY(other.isActiveWindow());
    window->activateWindow();
    QTRY_VERIFY(window->isActiveWindow());
    if (escape)
        press(*m_strobe, 27);
    else
        QVERIFY(!window->close());
    QVERIFY(!m_strobe->isLoaded());
    QTRY_VERIFY(mainWindow.isActiveWindow());
    QTRY_VERIFY(window.isNull());
}

// Without an on-screen window every step that needs it fails and is reported;
// the others still run, and H-I-D-E still ends idle with the key consumed.
void TestStrobeWindow::failuresAreReportedAndCarryOn()
{
    m_options.speed = 1;
    m_strobe->applyOptions();
    QCOMPARE(failedLines(m_box, u"Form_Load"_s), u"100 110 136 142"_s);
    QCOMPARE(m_strobe->flashColors(), (QList<qint32>{ColorValue::Black, ColorValue::White}));
    typeKeys(*m_strobe, u"HID"_s);
    QVERIFY(m_box.shown.isEmpty());
    QCOMPARE(press(*m_strobe, 69), qint16(0));
    QCOMPARE(failedLines(m_box, u"Form_KeyDown"_s), u"156 158 160 162"_s);
    QCOMPARE(m_strobe->hideStep(), qint16(0));
}

void TestStrobeWindow::warningGivesTheRates_data()
{
    const auto read = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    QTest::addColumn<QString>("warning");
    QTest::newRow("README") << read(QStringLiteral(LUMIVEX_README));
    QTest::newRow("AppStream description") << read(QStringLiteral(LUMIVEX_METAINFO));
    QTest::newRow("Start Strobing tooltip") << layouts::strobeWarning();
}

// The photosensitivity warnings state the rates the strobe really shows: for
// Classic Strobe Light the changes to white, for Random Colors every change.
void TestStrobeWindow::warningGivesTheRates()
{
    QFETCH(QString, warning);
    QVERIFY(!warning.isEmpty());
    const QString text = warning.simplified().remove(u"> "_s);

    QStringList rates[2];
    for (qint16 style : {0, 1}) {
        for (qint16 speed : {0, 1, 2}) {
            m_options.style = style;
            m_options.speed = speed;
            showStrobe();
            const int interval = m_strobe->stepTimer()->interval();
            // Whole cycles of both styles (3 and 7 steps), after the first step.
            constexpr int kSteps = 42;
            m_strobe->step();
            int changes = 0;
            for (int step = 0; step < kSteps; ++step) {
                const qint32 before = m_strobe->backColor();
                m_strobe->step();
                const qint32 now = m_strobe->backColor();
                changes += now != before && (style == 1 || now == ColorValue::White);
            }
            m_strobe->unload();
            const double perSecond = changes * 1000.0 / (kSteps * interval);
            rates[style] << QString::number(perSecond, 'f', style == 0 ? 2 : 1);
        }
    }
    const auto listed = [](const QStringList &three) {
        return three[0] + u", "_s + three[1] + u" or "_s + three[2];
    };
    const QString classic = u"Classic Strobe Light shows "_s + listed(rates[0])
                            + u" white flashes a second at Slow, Medium or Fast"_s;
    const QString random = u"Random Colors changes the colour of the whole screen "_s
                           + listed(rates[1]) + u" times a second"_s;
    QVERIFY2(text.contains(classic), qPrintable(classic));
    QVERIFY2(text.contains(random), qPrintable(random));
}

QTEST_MAIN(TestStrobeWindow)
#include "test_strobewindow.moc"
