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
    void shiftBits();
    void colorValues();
};

// One row for each rule of the map, at the ends of its ranges.
void TestConversions::keyCode_data()
{
    QTest::addColumn<int>("qtKey");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("expected");

    const Qt::KeyboardModifiers none;
    const Qt::KeyboardModifiers shift(Qt::ShiftModifier);
    const Qt::KeyboardModifiers keypad(Qt::KeypadModifier);
    QTest::newRow("A") << int(Qt::Key_A) << none << 65;
    QTest::newRow("Shift+Z") << int(Qt::Key_Z) << shift << 90;
    QTest::newRow("Ctrl+E") << int(Qt::Key_E) << Qt::KeyboardModifiers(Qt::ControlModifier) << 69;
    QTest::newRow("0") << int(Qt::Key_0) << none << 48;
    QTest::newRow("9") << int(Qt::Key_9) << none << 57;
    QTest::newRow("keypad 5") << int(Qt::Key_5) << keypad << 101;
    QTest::newRow("keypad *") << int(Qt::Key_Asterisk) << keypad << 106;
    QTest::newRow("Shift+8 gives *") << int(Qt::Key_Asterisk) << shift << 56;
    QTest::newRow("F12") << int(Qt::Key_F12) << none << 123;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << none << 27;
    QTest::newRow("Shift") << int(Qt::Key_Shift) << shift << 16;
    QTest::newRow("unknown key") << int(Qt::Key_VolumeUp) << none << 255;
}

void TestConversions::keyCode()
{
    QFETCH(int, qtKey);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, expected);
    QCOMPARE(int(virtualKeyCode(qtKey, modifiers)), expected);
}

void TestConversions::shiftBits()
{
    QCOMPARE(int(shiftState(Qt::ShiftModifier)), 1);
    QCOMPARE(int(shiftState(Qt::ControlModifier | Qt::KeypadModifier)), 2);
    QCOMPARE(int(shiftState(Qt::AltModifier)), 4);
    QCOMPARE(int(shiftState(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)), 7);
}

void TestConversions::colorValues()
{
    QPalette palette;
    palette.setColor(QPalette::Button, QColor(1, 2, 3));
    QCOMPARE(strobe::toQColor(0x123456, palette), QColor(0x56, 0x34, 0x12));
    QCOMPARE(strobe::toQColor(strobe::ColorValue::ButtonFace, palette), QColor(1, 2, 3));
    QVERIFY_THROWS_EXCEPTION(errors::Failure, strobe::toQColor(0x01000000, palette));
    QVERIFY_THROWS_EXCEPTION(errors::Failure,
                             strobe::toQColor(static_cast<qint32>(0x800000FFu), palette));
}

QTEST_APPLESS_MAIN(TestConversions)
#include "test_conversions.moc"
