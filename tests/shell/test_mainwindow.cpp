#include "curfile.h"
#include "fakeplatform.h"
#include "layouts/screenreader.h"
#include "shell/mainwindow.h"
#include "shell/qtmessagebox.h"
#include "strobe/strobe.h"

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTextDocumentFragment>

using namespace Qt::StringLiterals;

namespace {

template<typename T> T *child(QWidget &form, const char *name)
{
    return form.findChild<T *>(QLatin1String(name));
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layoutMatchesTheDesign_data();
    void layoutMatchesTheDesign();
    void objectNamesAreTheOnesSkinsSelect_data();
    void objectNamesAreTheOnesSkinsSelect();
    void shownWindowLooksRightAndTabsInOrder();
    void choosingAnEntryStoresItAtOnce();
    void pointerFollowsTheMouse_data();
    void pointerFollowsTheMouse();
    void mouseMovesReachTheHandlers();
    void handShowsOnlyOverThePushButtons();
    void helpShowsTheInstruction();
    void helpKeepsTheAddressOnOneLine();
    void enterPressesOnlyTheFocusedButton_data();
    void enterPressesOnlyTheFocusedButton();
    void screenReadersHearWhatEachControlIs_data();
    void screenReadersHearWhatEachControlIs();
    void closingEndsTheProgram();
};

void TestMainWindow::layoutMatchesTheDesign_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("parentName");
    QTest::newRow("Help") << "PushButton1" << QRect(8, 8, 520, 27) << "Form1";
    QTest::newRow("style frame") << "Frame3" << QRect(8, 38, 520, 54) << "Form1";
    QTest::newRow("style list") << "Combo1" << QRect(16, 20, 489, 23) << "Frame3";
    QTest::newRow("speed frame") << "Frame4" << QRect(8, 96, 520, 54) << "Form1";
    QTest::newRow("speed list") << "Combo2" << QRect(16, 20, 489, 23) << "Frame4";
    QTest::newRow("Start Strobing") << "PushButton2" << QRect(8, 158, 520, 27) << "Form1";
}

void TestMainWindow::layoutMatchesTheDesign()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, parentName);
    FakePlatform platform;
    shell::MainWindow form(platform);
    auto *widget = form.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
}

void TestMainWindow::objectNamesAreTheOnesSkinsSelect_data()
{
    QTest::addColumn<bool>("strobe");
    QTest::addColumn<QStringList>("names");
    // Skin files select these ("#Combo1 { ... }"): every named object, in
    // creation order; Qt's own (a list's style, "qt_..." parts) left out.
    QTest::newRow("main window") << false
                                 << QStringList{u"Form1"_s,       u"PushButton1"_s,   u"Frame3"_s,
                                                u"Combo1"_s,      u"Frame4"_s,        u"Combo2"_s,
                                                u"PushButton2"_s, u"SkinFramework1"_s};
    QTest::newRow("strobe window") << true << QStringList{u"Form2"_s, u"Timer1"_s, u"Label1"_s};
}

void TestMainWindow::objectNamesAreTheOnesSkinsSelect()
{
    QFETCH(bool, strobe);
    QFETCH(QStringList, names);
    FakePlatform platform;
    shell::MainWindow form(platform);
    form.setUp();
    QObject *window = &form;
    if (strobe) {
        form.startStrobe();
        QVERIFY(form.strobe() && form.strobe()->window());
        window = form.strobe()->window();
    }
    QStringList found{window->objectName()};
    for (const QObject *object : window->findChildren<QObject *>()) {
        const bool qtsOwn = object->inherits("QStyle") || object->objectName().startsWith(u"qt_");
        if (!object->objectName().isEmpty() && !qtsOwn)
            found.append(object->objectName());
    }
    QCOMPARE(found, names);
}

void TestMainWindow::shownWindowLooksRightAndTabsInOrder()
{
    FakePlatform platform;
    shell::MainWindow form(platform);
    form.setUp();
    form.showCentred();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(form.size(), QSize(536, 192));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(child<QGroupBox>(form, "Frame3")->palette().color(QPalette::Window),
             QColor(Qt::white));
    QCOMPARE(form.font().family(), QStringLiteral("Arial"));
    QVERIFY(form.font().bold());
    const QFont buttonFont = child<QPushButton>(form, "PushButton1")->font();
    QCOMPARE(buttonFont.pointSizeF(), 11.25);
    QVERIFY(buttonFont.bold());
    QCOMPARE(child<QPushButton>(form, "PushButton2")->palette().color(QPalette::Button),
             QColor(Qt::white));
    QCOMPARE(child<QGroupBox>(form, "Frame3")->title(), QStringLiteral("Strobe Option"));
    QCOMPARE(child<QGroupBox>(form, "Frame4")->title(), QStringLiteral("Speed Option"));
    QVERIFY(form.findChild<QObject *>(QStringLiteral("SkinFramework1")));
    // Focus starts on the style list and Tab walks round the controls.
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Combo1"));
    for (const char *name : {"Combo2", "PushButton2", "PushButton1", "Combo1"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(name));
    }
}

void TestMainWindow::choosingAnEntryStoresItAtOnce()
{
    FakePlatform platform;
    shell::MainWindow form(platform);
    form.setUp();
    auto *style = child<QComboBox>(form, "Combo1");
    QTest::keyClick(style, Qt::Key_Down);
    QCOMPARE(style->currentText(), QStringLiteral("Random Colors"));
    QCOMPARE(platform.storedValue(QStringLiteral("Combo1")), QStringLiteral("1"));
    child<QComboBox>(form, "Combo2")->setCurrentIndex(2);
    QCOMPARE(platform.storedValue(QStringLiteral("Combo2")), QStringLiteral("2"));
    QVERIFY(platform.box.shown.isEmpty());
}

void TestMainWindow::pointerFollowsTheMouse_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<QString>("over");
    QTest::addColumn<int>("after");
    QTest::newRow("onto Help") << 0 << "PushButton1" << 99;
    QTest::newRow("back to a frame") << 99 << "Frame4" << 0;
    QTest::newRow("back to the window") << 99 << "Form1" << 0;
    QTest::newRow("wait pointer stays on a button") << 11 << "PushButton2" << 11;
    QTest::newRow("wait pointer stays on a frame") << 11 << "Frame4" << 11;
}

void TestMainWindow::pointerFollowsTheMouse()
{
    QFETCH(int, before);
    QFETCH(QString, over);
    QFETCH(int, after);
    FakePlatform platform;
    shell::MainWindow form(platform);
    form.setMousePointer(static_cast<qint16>(before));
    QWidget *widget = over == u"Form1" ? &form : form.findChild<QWidget *>(over);
    QVERIFY(widget);
    // A corner of the widget that none of its children covers.
    QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), widget->mapToGlobal(QPointF(1, 1)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QCOMPARE(int(form.mousePointer()), after);
    if (after == 11)
        QCOMPARE(form.cursor().shape(), Qt::WaitCursor);
}

void TestMainWindow::mouseMovesReachTheHandlers()
{
    FakePlatform platform;
    shell::MainWindow form(platform);
    form.setUp();
    form.showCentred();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mouseMove(&form, QPoint(40, 170));
    QTRY_COMPARE(form.mousePointer(), shell::MousePointer::Custom);
    QTest::mouseMove(&form, QPoint(12, 60));
    QTRY_COMPARE(form.mousePointer(), shell::MousePointer::Default);
}

void TestMainWindow::handShowsOnlyOverThePushButtons()
{
    FakePlatform platform;
    QVERIFY(writeHandCursor(platform.folder));
    shell::MainWindow form(platform);
    form.setUp();
    form.pointerOverButton();
    // The pointer may leave a button straight onto a list, which reports no move.
    for (const char *name : {"PushButton1", "PushButton2"})
        QCOMPARE(child<QWidget>(form, name)->cursor().shape(), Qt::BitmapCursor);
    for (const char *name : {"Combo1", "Combo2", "Frame3", "Form1"}) {
        QWidget *widget = qstrcmp(name, "Form1") == 0 ? &form : child<QWidget>(form, name);
        QCOMPARE(widget->cursor().shape(), Qt::ArrowCursor);
    }
    form.setMousePointer(shell::MousePointer::Hourglass);
    for (const char *name : {"PushButton2", "Combo1"})
        QCOMPARE(child<QWidget>(form, name)->cursor().shape(), Qt::WaitCursor);
    form.pointerOverBackground();
    QCOMPARE(child<QWidget>(form, "PushButton2")->cursor().shape(), Qt::WaitCursor);
}

void TestMainWindow::helpShowsTheInstruction()
{
    FakePlatform platform;
    shell::MainWindow form(platform);
    form.showHelp();
    QCOMPARE(platform.box.shown.size(), 1);
    const auto &help = platform.box.shown.first();
    QCOMPARE(help.prompt,
             QStringLiteral("Press 'ESC' on the keyboard to exit full screen mode.\r\n\r\n"
                            "Questions? Please contact Team Quarnel at "
                            "https://www.quarnel.com/contact/"));
    QCOMPARE(help.style, 0);
    QVERIFY(!help.title.has_value());
}

// Qt wraps a box's text at 500 pixels, and breaks an address after a slash.
void TestMainWindow::helpKeepsTheAddressOnOneLine()
{
    FakePlatform platform;
    shell::MainWindow form(platform);
    form.showHelp();
    QCOMPARE(platform.box.shown.size(), 1);
    const auto &help = platform.box.shown.first();
    QMessageBox box;
    shell::QtMessageBox::prepare(box, help.prompt, help.style, help.title);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    QVERIFY(label);
    QCOMPARE(label->text(), shell::QtMessageBox::forDisplay(help.prompt));
    QVERIFY(label->text().endsWith(u" https://www.quarnel.com/contact/"_s));
    // As many lines as with no limit on the width: the instruction, a blank
    // line, the question with the address.
    if (label->wordWrap()) {
        const int unlimited = label->heightForWidth(QWIDGETSIZE_MAX);
        QCOMPARE(label->heightForWidth(label->width()), unlimited);
    }
}

void TestMainWindow::enterPressesOnlyTheFocusedButton_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("helpShown");
    QTest::addColumn<bool>("strobeShown");
    QTest::newRow("Return on Start Strobing")
        << "PushButton2" << int(Qt::Key_Return) << false << true;
    QTest::newRow("keypad Enter on Start Strobing")
        << "PushButton2" << int(Qt::Key_Enter) << false << true;
    QTest::newRow("Space on Start Strobing")
        << "PushButton2" << int(Qt::Key_Space) << false << true;
    QTest::newRow("Return on Help") << "PushButton1" << int(Qt::Key_Return) << true << false;
    QTest::newRow("keypad Enter on Help") << "PushButton1" << int(Qt::Key_Enter) << true << false;
    QTest::newRow("Return on the style list") << "Combo1" << int(Qt::Key_Return) << false << false;
    QTest::newRow("Return on the speed list") << "Combo2" << int(Qt::Key_Return) << false << false;
}

void TestMainWindow::enterPressesOnlyTheFocusedButton()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(bool, helpShown);
    QFETCH(bool, strobeShown);
    FakePlatform platform;
    shell::MainWindow form(platform);
    form.setUp();
    form.showCentred();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    for (const char *name : {"PushButton1", "PushButton2"}) {
        QVERIFY(!child<QPushButton>(form, name)->isDefault());
        QVERIFY(!child<QPushButton>(form, name)->autoDefault());
    }
    auto *target = form.findChild<QWidget *>(focus);
    target->setFocus();
    const Qt::KeyboardModifiers modifiers
        = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    QTest::keyClick(target, Qt::Key(key), modifiers);
    QCOMPARE(platform.box.shown.size(), helpShown ? 1 : 0);
    QCOMPARE(form.strobe() && form.strobe()->isLoaded(), strobeShown);
    // A held key repeats; that must not press the button again.
    if (helpShown) {
        QTest::simulateEvent(target, true, key, modifiers, QString(), true);
        QCOMPARE(platform.box.shown.size(), 1);
    }
}

void TestMainWindow::screenReadersHearWhatEachControlIs_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("accessibleName");
    QTest::addColumn<QString>("value");
    QTest::newRow("main window") << "Form1" << int(QAccessible::Window) << "Lumivex Software"
                                 << "";
    QTest::newRow("style list") << "Combo1" << int(QAccessible::ComboBox) << "Strobe Option"
                                << "Random Colors";
    QTest::newRow("speed list") << "Combo2" << int(QAccessible::ComboBox) << "Speed Option"
                                << "Fast";
    QTest::newRow("Start Strobing")
        << "PushButton2" << int(QAccessible::Button) << "Start Strobing"
        << "";
}

void TestMainWindow::screenReadersHearWhatEachControlIs()
{
    QFETCH(QString, name);
    QFETCH(int, role);
    QFETCH(QString, accessibleName);
    QFETCH(QString, value);
    FakePlatform platform;
    platform.storeValue(QStringLiteral("Combo1"), QStringLiteral("1"));
    platform.storeValue(QStringLiteral("Combo2"), QStringLiteral("2"));
    shell::MainWindow form(platform);
    form.setUp();
    QWidget *widget = name == u"Form1" ? &form : form.findChild<QWidget *>(name);
    QAccessibleInterface *control = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(control);
    QCOMPARE(int(control->role()), role);
    QCOMPARE(control->text(QAccessible::Name), accessibleName);
    QVERIFY(!control->text(QAccessible::Description).isEmpty());
    // The warning is read on focus and shown on hover, before the press.
    if (name == u"PushButton2") {
        QCOMPARE(control->text(QAccessible::Description), layouts::strobeWarning());
        QVERIFY(Qt::mightBeRichText(widget->toolTip()));
        QCOMPARE(QTextDocumentFragment::fromHtml(widget->toolTip()).toPlainText(),
                 layouts::strobeWarning());
    }
    if (role == QAccessible::ComboBox) {
        QCOMPARE(control->text(QAccessible::Value), value);
        QAccessibleTextInterface *text = control->textInterface();
        QVERIFY(text);
        QCOMPARE(text->text(0, text->characterCount()), value);
        // The entries stay reachable as the list's child.
        QCOMPARE(control->childCount(), 1);
        QCOMPARE(control->child(0)->childCount(), name == u"Combo1" ? 2 : 3);
    }
}

void TestMainWindow::closingEndsTheProgram()
{
    FakePlatform platform;
    shell::MainWindow form(platform);
    form.show();
    QVERIFY(form.close());
    QCOMPARE(platform.endCount, 1);
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
