#include "errors/failure.h"
#include "layouts/colorvalue.h"
#include "strobe/virtualkey.h"

#include <QColor>
#include <QInputDevice>
#include <QKeyEvent>
#include <QPalette>
#include <QTest>

#include <memory>

#ifdef LUMIVEX_HAVE_XKB
#include <xkbcommon/xkbcommon.h>
#endif

using strobe::virtualKeyCode;

class TestConversions final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyCode_data();
    void keyCode();
    void keyEvent_data();
    void keyEvent();
    void keyByLayout_data();
    void keyByLayout();
    void colorValues_data();
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

// A key press as the platform delivers it: the symbol's Qt key, the keycode
// (xkb keycodes on X11 and Wayland) and the Windows virtual key.
void TestConversions::keyEvent_data()
{
    QTest::addColumn<int>("qtKey");
    QTest::addColumn<quint32>("scanCode");
    QTest::addColumn<quint32>("nativeKey");
    QTest::addColumn<int>("expected");

    const int cyrillicEr = 0x420; // on the key that has H on a US keyboard
    QTest::newRow("Latin H") << int(Qt::Key_H) << 43u << 0u << 72;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << 9u << 0u << 27;
    QTest::newRow("synthetic, no native codes") << cyrillicEr << 0u << 0u << 255;
#ifdef Q_OS_WIN
    QTest::newRow("Cyrillic on the H key") << cyrillicEr << 0x23u << 0x48u << 72;
    QTest::newRow("AZERTY A on the Q place") << int(Qt::Key_A) << 0x10u << 0x41u << 65;
#else
    // A Dvorak H sits where QWERTY has J: the symbol counts, not the place.
    QTest::newRow("Dvorak H") << int(Qt::Key_H) << 44u << 0u << 72;
    QTest::newRow("Cyrillic on the H key") << cyrillicEr << 43u << 0u << 72;
    const int greekEpsilon = 0x395;
    QTest::newRow("Greek on the E key") << greekEpsilon << 26u << 0u << 69;
#endif
}

void TestConversions::keyEvent()
{
    QFETCH(int, qtKey);
    QFETCH(quint32, scanCode);
    QFETCH(quint32, nativeKey);
    QFETCH(int, expected);
    // A keyboard of the test's own: without an application, Qt's default one
    // would be made for the event and never freed.
    const QInputDevice keyboard(QStringLiteral("test keyboard"), 1,
                                QInputDevice::DeviceType::Keyboard);
    const QKeyEvent event(QEvent::KeyPress, qtKey, Qt::NoModifier, scanCode, nativeKey, 0,
                          QString(), false, 1, &keyboard);
    QCOMPARE(int(virtualKeyCode(event)), expected);
}

// Keys named through an xkb keymap built from the layouts given, by keycode.
void TestConversions::keyByLayout_data()
{
    QTest::addColumn<QString>("layouts");
    QTest::addColumn<quint32>("keycode");
    QTest::addColumn<int>("expected");

    QTest::newRow("no keymap: US place of H") << QString() << 43u << 72;
    QTest::newRow("no keymap: US place of ;") << QString() << 47u << 186;
    QTest::newRow("no keymap: unknown key") << QString() << 200u << 255;
#ifdef LUMIVEX_HAVE_XKB
    QTest::newRow("ru alone: US place") << "ru" << 43u << 72;
    QTest::newRow("gr alone: E") << "gr" << 26u << 69;
    QTest::newRow("gr alone: Q place") << "gr" << 24u << 81;
    QTest::newRow("il alone: I") << "il" << 31u << 73;
    QTest::newRow("ru,us: H") << "ru,us" << 43u << 72;
    QTest::newRow("ru,fr: AZERTY A") << "ru,fr" << 24u << 65;
    QTest::newRow("ru,fr: AZERTY Z") << "ru,fr" << 25u << 90;
    QTest::newRow("gr,us(dvorak): H on the J place") << "gr,us(dvorak)" << 44u << 72;
    QTest::newRow("gr,us(dvorak): D on the H place") << "gr,us(dvorak)" << 43u << 68;
    QTest::newRow("de: o-umlaut, US place") << "de" << 47u << 186;
#endif
}

void TestConversions::keyByLayout()
{
    QFETCH(QString, layouts);
    QFETCH(quint32, keycode);
    QFETCH(int, expected);
    if (layouts.isEmpty()) {
        QCOMPARE(int(strobe::xkbKeyCode(nullptr, keycode)), expected);
        return;
    }
#ifdef LUMIVEX_HAVE_XKB
    const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), xkb_context_unref);
    QVERIFY(context);
    // "gr,us(dvorak)" is the layouts "gr,us" with the variants ",dvorak".
    QByteArrayList names, variants;
    for (const QString &layout : layouts.split(u',')) {
        names << layout.section(u'(', 0, 0).toLatin1();
        variants << layout.section(u'(', 1).chopped(layout.contains(u'(') ? 1 : 0).toLatin1();
    }
    const QByteArray plain = names.join(','), variant = variants.join(',');
    const xkb_rule_names rules{"evdev", "pc105", plain.constData(), variant.constData(), ""};
    const std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &rules, XKB_KEYMAP_COMPILE_NO_FLAGS),
        xkb_keymap_unref);
    if (!keymap)
        QSKIP("the system's xkb data lack these layouts");
    QCOMPARE(int(strobe::xkbKeyCode(keymap.get(), keycode)), expected);
#endif
}

namespace {

// Every role in a colour of its own (and other colours in the groups not
// read), so that a system colour taken from the wrong role shows.
QPalette distinctPalette()
{
    QPalette palette;
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto colorRole = static_cast<QPalette::ColorRole>(role);
        if (colorRole == QPalette::NoRole)
            continue;
        palette.setColor(QPalette::Inactive, colorRole, QColor(200, 0, role));
        palette.setColor(QPalette::Disabled, colorRole, QColor(0, 200, role));
        palette.setColor(QPalette::Active, colorRole, QColor(role, role, 100));
    }
    return palette;
}

QColor roleColor(QPalette::ColorRole role)
{
    return distinctPalette().color(QPalette::Active, role);
}

} // namespace

void TestConversions::colorValues_data()
{
    // The colour a value stands for; an invalid colour where it names none.
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("black") << quint32(layouts::ColorValue::Black) << QColor(0, 0, 0);
    QTest::newRow("white") << quint32(layouts::ColorValue::White) << QColor(255, 255, 255);
    QTest::newRow("blue, green, red") << 0x123456u << QColor(0x56, 0x34, 0x12);
    QTest::newRow("above 24 bits") << 0x01000000u << QColor();
    QTest::newRow("all bits") << 0xFFFFFFFFu << QColor();
    // System colours by the index GetSysColor takes, from the role Qt's
    // Windows theme fills with it.
    QTest::newRow("5 window") << 0x80000005u << roleColor(QPalette::Base);
    QTest::newRow("8 window text") << 0x80000008u << roleColor(QPalette::WindowText);
    QTest::newRow("13 highlight") << 0x8000000Du << roleColor(QPalette::Highlight);
    QTest::newRow("14 highlighted text") << 0x8000000Eu << roleColor(QPalette::HighlightedText);
    QTest::newRow("15 button face")
        << quint32(layouts::ColorValue::ButtonFace) << roleColor(QPalette::Button);
    QTest::newRow("16 button shadow") << 0x80000010u << roleColor(QPalette::Dark);
    QTest::newRow("18 button text") << 0x80000012u << roleColor(QPalette::ButtonText);
    QTest::newRow("0 scroll bar") << 0x80000000u << QColor();
    QTest::newRow("17 grey text") << 0x80000011u << QColor();
    QTest::newRow("255") << 0x800000FFu << QColor();
    QTest::newRow("index above 24 bits") << 0x81000005u << QColor();
}

void TestConversions::colorValues()
{
    QFETCH(quint32, value);
    QFETCH(QColor, expected);
    const QPalette palette = distinctPalette();
    const auto colour = static_cast<qint32>(value);
    if (expected.isValid())
        QCOMPARE(layouts::toQColor(colour, palette), expected);
    else
        QVERIFY_THROWS_EXCEPTION(errors::Failure, layouts::toQColor(colour, palette));
}

QTEST_APPLESS_MAIN(TestConversions)
#include "test_conversions.moc"
