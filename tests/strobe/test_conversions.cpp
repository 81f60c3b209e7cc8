#include "colorvalue.h"
#include "failure.h"
#include "virtualkey.h"

#include <QColor>
#include <QPalette>

#include <QTest>

using strobe::shiftState;
using strobe::virtualKeyCode;

class TestConversions final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyCode_data();
    void keyCode();
    void everyLetterAndDigit();
    void shiftBits_data();
    void shiftBits();
    void colorValues_data();
    void colorValues();
    void invalidColorValues();
};

void TestConversions::keyCode_data()
{
    QTest::addColumn<int>("qtKey");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("expected");

    const Qt::KeyboardModifiers none;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << none << 27;
    QTest::newRow("H") << int(Qt::Key_H) << none << 72;
    QTest::newRow("Shift+H") << int(Qt::Key_H) << Qt::KeyboardModifiers(Qt::ShiftModifier) << 72;
    QTest::newRow("I") << int(Qt::Key_I) << none << 73;
    QTest::newRow("D") << int(Qt::Key_D) << none << 68;
    QTest::newRow("Ctrl+E") << int(Qt::Key_E) << Qt::KeyboardModifiers(Qt::ControlModifier) << 69;
    QTest::newRow("Shift") << int(Qt::Key_Shift) << Qt::KeyboardModifiers(Qt::ShiftModifier) << 16;
    QTest::newRow("Control") << int(Qt::Key_Control) << none << 17;
    QTest::newRow("Alt") << int(Qt::Key_Alt) << none << 18;
    QTest::newRow("AltGr") << int(Qt::Key_AltGr) << none << 18;
    QTest::newRow("0") << int(Qt::Key_0) << none << 48;
    QTest::newRow("9") << int(Qt::Key_9) << none << 57;
    QTest::newRow("Shift+1 gives !")
        << int(Qt::Key_Exclam) << Qt::KeyboardModifiers(Qt::ShiftModifier) << 49;
    QTest::newRow("Shift+0 gives )")
        << int(Qt::Key_ParenRight) << Qt::KeyboardModifiers(Qt::ShiftModifier) << 48;
    QTest::newRow("keypad 5") << int(Qt::Key_5) << Qt::KeyboardModifiers(Qt::KeypadModifier)
                              << 101;
    QTest::newRow("keypad *") << int(Qt::Key_Asterisk) << Qt::KeyboardModifiers(Qt::KeypadModifier)
                              << 106;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter)
                                  << Qt::KeyboardModifiers(Qt::KeypadModifier) << 13;
    QTest::newRow("Return") << int(Qt::Key_Return) << none << 13;
    QTest::newRow("Space") << int(Qt::Key_Space) << none << 32;
    QTest::newRow("Tab") << int(Qt::Key_Tab) << none << 9;
    QTest::newRow("Backtab") << int(Qt::Key_Backtab) << Qt::KeyboardModifiers(Qt::ShiftModifier)
                             << 9;
    QTest::newRow("Left") << int(Qt::Key_Left) << none << 37;
    QTest::newRow("Delete") << int(Qt::Key_Delete) << none << 46;
    QTest::newRow("F1") << int(Qt::Key_F1) << none << 112;
    QTest::newRow("F12") << int(Qt::Key_F12) << none << 123;
    QTest::newRow("CapsLock") << int(Qt::Key_CapsLock) << none << 20;
    QTest::newRow("Super") << int(Qt::Key_Super_L) << none << 91;
    QTest::newRow("comma") << int(Qt::Key_Comma) << none << 188;
    QTest::newRow("quote") << int(Qt::Key_Apostrophe) << none << 222;
    QTest::newRow("unknown key") << int(Qt::Key_VolumeUp) << none << 255;
    QTest::newRow("non-Latin letter") << int(Qt::Key_Adiaeresis) << none << 255;
}

void TestConversions::keyCode()
{
    QFETCH(int, qtKey);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, expected);
    QCOMPARE(int(virtualKeyCode(qtKey, modifiers)), expected);
}

void TestConversions::everyLetterAndDigit()
{
    for (int i = 0; i < 26; ++i) {
        QCOMPARE(int(virtualKeyCode(Qt::Key_A + i, Qt::ShiftModifier)), 65 + i);
        QCOMPARE(int(virtualKeyCode(Qt::Key_A + i, Qt::NoModifier)), 65 + i);
    }
    for (int i = 0; i < 10; ++i)
        QCOMPARE(int(virtualKeyCode(Qt::Key_0 + i, Qt::NoModifier)), 48 + i);
}

void TestConversions::shiftBits_data()
{
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("expected");
    QTest::newRow("none") << Qt::KeyboardModifiers() << 0;
    QTest::newRow("Shift") << Qt::KeyboardModifiers(Qt::ShiftModifier) << 1;
    QTest::newRow("Ctrl") << Qt::KeyboardModifiers(Qt::ControlModifier) << 2;
    QTest::newRow("Alt") << Qt::KeyboardModifiers(Qt::AltModifier) << 4;
    QTest::newRow("all three and keypad")
        << (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::KeypadModifier) << 7;
}

void TestConversions::shiftBits()
{
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, expected);
    QCOMPARE(int(shiftState(modifiers)), expected);
}

void TestConversions::colorValues_data()
{
    QTest::addColumn<qint32>("value");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("black") << qint32(0) << QColor(0, 0, 0);
    QTest::newRow("white") << qint32(0xFFFFFF) << QColor(255, 255, 255);
    QTest::newRow("red is the low byte") << qint32(0x0000FF) << QColor(255, 0, 0);
    QTest::newRow("green") << qint32(0x00FF00) << QColor(0, 255, 0);
    QTest::newRow("blue is the third byte") << qint32(0xFF0000) << QColor(0, 0, 255);
    QTest::newRow("cyan") << qint32(0xFFFF00) << QColor(0, 255, 255);
    QTest::newRow("mixed") << qint32(0x123456) << QColor(0x56, 0x34, 0x12);
}

void TestConversions::colorValues()
{
    QFETCH(qint32, value);
    QFETCH(QColor, expected);
    QCOMPARE(strobe::toQColor(value, QPalette()), expected);
}

void TestConversions::invalidColorValues()
{
    QPalette palette;
    palette.setColor(QPalette::Button, QColor(1, 2, 3));
    QCOMPARE(strobe::toQColor(strobe::ColorValue::ButtonFace, palette), QColor(1, 2, 3));
    QVERIFY_THROWS_EXCEPTION(errors::Failure, strobe::toQColor(0x01000000, palette));
    QVERIFY_THROWS_EXCEPTION(errors::Failure,
                             strobe::toQColor(static_cast<qint32>(0x800000FFu), palette));
}

QTEST_APPLESS_MAIN(TestConversions)
#include "test_conversions.moc"
