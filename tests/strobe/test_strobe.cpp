#include "strobefixture.h"

#include "layouts/colorvalue.h"
#include "strobe/coloursteps.h"

#include <QApplication>
#include <QLabel>
#include <QLoggingCategory>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace strobetest;
using strobe::Strobe;
namespace ColorValue = layouts::ColorValue;

Q_DECLARE_METATYPE(QList<qint32>)

// The strobe's sequences, its hint and its state as the ticks walk through them.
class TestStrobe final
    : public QObject
    , private StrobeFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init() { setUpStrobe(); }
    void cleanup() { tearDownStrobe(); }

    void sequences_data();
    void sequences();
    void hintThroughTick45();
    void saysTheTimerIsTheClock();
    void catchUpMatchesTicks_data();
    void catchUpMatchesTicks();
    void hideSequence_data();
    void hideSequence();
    void unloading();
    void reopenStartsAtFirstColour();
};

void TestStrobe::sequences_data()
{
    QTest::addColumn<qint16>("style");
    QTest::addColumn<qint16>("speed");
    QTest::addColumn<int>("interval");
    QTest::addColumn<QList<qint32>>("colours"); // at load, then after each tick

    const qint32 B = ColorValue::Black, W = ColorValue::White;
    const QList<qint32> classic{B, B, W, W, B, W, W, B, W, W};
    const qint32 F = ColorValue::ButtonFace, R = 0x0000FF, Y = 0x00FFFF;
    const QList<qint32> random{F, R, 0x00FF00, 0xFF0000, 0xFFFF00, 0xFF00FF, Y, Y, R};
    QTest::newRow("no style") << qint16(-1) << qint16(2) << 100 << QList<qint32>{F, F, F};
    QTest::newRow("bad speed") << qint16(0) << qint16(3) << 0 << QList<qint32>{B};
    QTest::newRow("classic slow") << qint16(0) << qint16(0) << 200 << classic;
    QTest::newRow("random medium") << qint16(1) << qint16(1) << 150 << random;
    QTest::newRow("classic fast") << qint16(0) << qint16(2) << 100 << classic;
}

void TestStrobe::sequences()
{
    QFETCH(qint16, style);
    QFETCH(qint16, speed);
    QFETCH(int, interval);
    QFETCH(QList<qint32>, colours);

    m_options.style = style;
    m_options.speed = speed;
    m_strobe->show(QGuiApplication::primaryScreen());
    QCOMPARE(m_strobe->stepTimer()->interval(), interval);
    QCOMPARE(m_strobe->stepTimer()->isArmed(), interval != 0);
    m_strobe->stepTimer()->setEnabled(false);
    // The step thread walks the sequence on its own, from the same start.
    const QList<qint32> &flash = m_strobe->flashColors();
    strobe::ColourSteps<qint32> steps({flash.begin(), flash.end()}, m_strobe->colorIndex());
    for (qsizetype tick = 0; tick < colours.size(); ++tick) {
        const qint32 before = m_strobe->backColor();
        if (tick > 0)
            m_strobe->step();
        QVERIFY2(m_strobe->backColor() == colours[tick], qPrintable(QString::number(tick)));
        qint32 stepped = before;
        if (tick > 0 && steps.next(stepped))
            QCOMPARE(stepped, m_strobe->backColor());
        else
            QCOMPARE(m_strobe->backColor(), before);
    }
}

void TestStrobe::hintThroughTick45()
{
    for (int opening = 0; opening < 2; ++opening) {
        showStrobe();
        QLabel *label = m_strobe->hint();
        QCOMPARE(label->text(), u"Press 'ESC' key to exit"_s);
        // The whole caption shows, whatever font stands in for the layout's.
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
        QCOMPARE(label->pos(), QPoint(0, 0));
        for (int tick = 1; tick <= 45; ++tick)
            m_strobe->step();
        QVERIFY(label->isVisible());
        m_strobe->step();
        QVERIFY(!label->isVisible());
        m_strobe->unload();
    }
}

// Steps made on the timer's own thread are taken here in one go, for the hint,
// a key or the closing: the state must be that of as many single ticks, and
// the hint's tick must be the one asked to be woken for.
namespace {

QStringList frameMessages;

void recordFrameMessage(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (qstrcmp(context.category, "lumivex.strobe.frames") == 0)
        frameMessages << message;
}

} // namespace

// Offscreen nothing but the window's thread steps: it says so when the hint
// goes, or at closing if sooner, once for each opening.
void TestStrobe::saysTheTimerIsTheClock()
{
    QLoggingCategory::setFilterRules(u"lumivex.strobe.frames.info=true"_s);
    frameMessages.clear();
    const QtMessageHandler before = qInstallMessageHandler(recordFrameMessage);
    const QStringList once{u"Strobe steps follow the timer"_s};
    showStrobe();
    for (int tick = 1; tick <= 45; ++tick)
        m_strobe->step();
    const QStringList beforeHint = frameMessages;
    m_strobe->step();
    const QStringList atHint = frameMessages;
    m_strobe->step();
    m_strobe->unload();
    const QStringList afterClosing = frameMessages;
    frameMessages.clear();
    showStrobe();
    m_strobe->step();
    m_strobe->unload();
    const QStringList closedEarly = frameMessages;
    frameMessages.clear();
    m_options.speed = -1;
    showStrobe();
    m_strobe->unload();
    const QStringList noSpeed = frameMessages;
    qInstallMessageHandler(before);
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(beforeHint, QStringList());
    QCOMPARE(atHint, once);
    QCOMPARE(afterClosing, once);
    QCOMPARE(closedEarly, once);
    QCOMPARE(noSpeed, QStringList());
}

void TestStrobe::catchUpMatchesTicks_data()
{
    QTest::addColumn<qint16>("style");
    QTest::addColumn<int>("before"); // single ticks first
    QTest::addColumn<int>("ticks");  // then at once

    for (qint16 style : {qint16(0), qint16(1), qint16(-1)}) {
        for (int before : {0, 3, 44, 45, 60}) {
            for (int ticks : {1, 2, 7, 46, 47, 53, 1000, 10007}) {
                QTest::addRow("style %d, %d then %d", style, before, ticks)
                    << style << before << ticks;
            }
        }
    }
}

void TestStrobe::catchUpMatchesTicks()
{
    QFETCH(qint16, style);
    QFETCH(int, before);
    QFETCH(int, ticks);

    m_options.style = style;
    Strobe single(m_box, m_options, m_idle);
    for (Strobe *form : {m_strobe.get(), &single}) {
        form->show(QGuiApplication::primaryScreen());
        form->stepTimer()->setEnabled(false);
        for (int tick = 0; tick < before; ++tick)
            form->step();
    }
    const quint64 untilHint = single.ticksUntilHint();
    for (int tick = 1; tick <= ticks; ++tick) {
        single.step();
        if (quint64(tick) < untilHint)
            QVERIFY(!single.hint()->isHidden());
        else if (quint64(tick) == untilHint)
            QVERIFY(single.hint()->isHidden());
    }
    QCOMPARE(untilHint == 0, before > 45);
    m_strobe->catchUp(quint64(ticks));
    QCOMPARE(m_strobe->colorIndex(), single.colorIndex());
    QCOMPARE(m_strobe->tickCount(), single.tickCount());
    QCOMPARE(m_strobe->backColor(), single.backColor());
    QCOMPARE(m_strobe->hint()->isHidden(), single.hint()->isHidden());
    QCOMPARE(m_strobe->ticksUntilHint(), single.ticksUntilHint());
}

void TestStrobe::hideSequence_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("steps"); // after each key
    QTest::addColumn<bool>("minimised");
    QTest::addColumn<bool>("shrunk");

    QTest::newRow("H I D E") << u"HIDE"_s << u"1230"_s << false << true;
    QTest::newRow("an early E changes nothing") << u"HIEDE"_s << u"12230"_s << false << true;
    QTest::newRow("a second H fails") << u"HHIDE"_s << u"10000"_s << false << false;
    QTest::newRow("Shift in the middle") << u"HsIDE"_s << u"10000"_s << false << false;
    QTest::newRow("an unknown key") << u"HI?DE"_s << u"12000"_s << false << false;
    QTest::newRow("D at step 3") << u"HIDDE"_s << u"12300"_s << false << false;
    QTest::newRow("strays, then again") << u"EIHIDHHIDE"_s << u"0012301230"_s << false << true;
    QTest::newRow("already shrunk") << u"HIDEHIDE"_s << u"12301230"_s << false << true;
    QTest::newRow("minimised") << u"HIDE"_s << u"1230"_s << true << false;
}

void TestStrobe::hideSequence()
{
    QFETCH(QString, keys);
    QFETCH(QString, steps);
    QFETCH(bool, minimised);
    QFETCH(bool, shrunk);

    showStrobe();
    if (minimised)
        m_strobe->window()->showMinimized();
    const QSize before = m_strobe->hint()->size();
    QVERIFY(!before.isEmpty());
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const bool consumed = press(*m_strobe, keyCode(keys.at(i))) == 0;
        QCOMPARE(consumed, u"HIDE"_s.contains(keys.at(i)));
        const qint16 step = steps.at(i).digitValue();
        QCOMPARE(m_strobe->hideStep(), step);
        QCOMPARE(m_strobe->hideActive(), step != 0);
    }
    QCOMPARE(m_strobe->hint()->size(), shrunk ? QSize(0, 0) : before);
    QVERIFY(m_strobe->isLoaded());
}

void TestStrobe::unloading()
{
    m_strobe->unload();
    showStrobe();
    QPointer<QWidget> window = m_strobe->window();
    typeKeys(*m_strobe, u"HID"_s);
    QCOMPARE(press(*m_strobe, 27), qint16(27));
    QVERIFY(!m_strobe->isLoaded());
    QCOMPARE(m_strobe->hideStep(), qint16(0));
    QTRY_VERIFY(window.isNull());
    m_strobe->step();
    m_strobe->unload();
    // Closed by the window manager, then destroyed while loaded.
    showStrobe();
    QVERIFY(!m_strobe->window()->close());
    QVERIFY(!m_strobe->isLoaded());
    m_strobe->show(QGuiApplication::primaryScreen());
    m_strobe.reset();
}

void TestStrobe::reopenStartsAtFirstColour()
{
    showStrobe();
    m_strobe->step();
    m_strobe->step();
    // A second showing while open only brings the window forward, back in
    // full screen should a window manager have taken that away.
    m_strobe->window()->showNormal();
    m_strobe->show(QGuiApplication::primaryScreen());
    QCOMPARE(m_strobe->backColor(), ColorValue::White);
    QVERIFY(m_strobe->window()->isFullScreen());
    m_strobe->unload();

    m_options.style = 1;
    m_options.speed = 0;
    showStrobe();
    QCOMPARE(m_strobe->stepTimer()->interval(), 200);
    QCOMPARE(m_strobe->backColor(), ColorValue::ButtonFace);
    m_strobe->step();
    QCOMPARE(m_strobe->backColor(), 0x0000FF);
    // An unknown style keeps the sequence built before.
    m_strobe->unload();
    m_options.style = 5;
    showStrobe();
    m_strobe->step();
    QCOMPARE(m_strobe->backColor(), 0x0000FF);
}

QTEST_MAIN(TestStrobe)
#include "test_strobe.moc"
