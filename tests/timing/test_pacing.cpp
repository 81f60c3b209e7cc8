#include "timing/refreshpacing.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

using timing::Micros;
using timing::Refresh;
using timing::RefreshPacing;

namespace {

// An hour after boot, where a microsecond is the 10th digit.
constexpr Micros kBoot = 3'600'000'000;
constexpr Micros kNever = std::numeric_limits<Micros>::max();
constexpr Micros kRun = 5'000'000;

// The display a row runs on: its rate, where in a refresh the timer starts (a
// part of one), noise on its stamps and on its reports' way (us), how long a
// report takes, and what goes wrong. Times of events are from the start.
struct Display
{
    explicit Display(double hz = 60, double where = 0.3)
        : rate(hz)
        , phase(where)
    {}

    double rate, phase;
    Micros jitter = 0, latency = 300;
    // Every n-th step's report is of a refresh that many later.
    int skipEvery = 0;
    quint64 skipBy = 0;
    Micros silentFrom = -1;
    // The window moves to another display: its rate, its count from the last.
    Micros changeAt = -1;
    double newRate = 0;
    qint64 mscJump = 0;
    // Stamps on a clock this far from the monotonic one, or on whole
    // milliseconds, as a made-up clock's timers give them.
    Micros clockOffset = 0;
    bool wholeMs = false;

    Display &noisy(Micros us) { return jitter = us, *this; }
    Display &late(Micros us) { return latency = us, *this; }
    Display &skipping(int every, quint64 by) { return skipEvery = every, skipBy = by, *this; }
    Display &silent(Micros from) { return silentFrom = from, *this; }
    Display &change(Micros when, double hz, qint64 jump)
    {
        changeAt = when;
        newRate = hz;
        mscJump = jump;
        return *this;
    }
    Display &otherClock(Micros offset) { return clockOffset = offset, *this; }
    Display &onWholeMs() { return wholeMs = true, *this; }
};

// The timer: its interval, and when it starts over on another one (or the same
// one from then).
struct Timer
{
    Micros interval = 100'000, restartAt = -1, newInterval = 0;
};

// One step as the user sees it: when it came, on which of the timer's grids
// (each restart is another) and for which of its deadlines, whether a report
// brought it, and the refresh reported with it.
struct Step
{
    Micros at = 0, deadline = 0, interval = 0, refreshStart = 0;
    qint64 slot = 0;
    int epoch = 0, ordinal = -1;
    // Late: shown after its refresh, or at a report of a later one than asked.
    bool paced = false, late = false, skipped = false, followsTimer = false;
    // The display's period, and the pacer's rate.
    double period = 0, rate = 0;
};

// The step thread's loop around a RefreshPacing, on a display and a timer
// that exist only as times: refreshes every period, reports delivered a
// latency after the refresh asked for begins, deadlines on the timer's grid.
class Simulation final : public timing::RefreshReports
{
public:
    Simulation(const Display &display, const Timer &timer)
        : m_display(display)
        , m_period(1e6 / display.rate)
        , m_nextRefresh(static_cast<double>(kBoot) - display.phase * m_period)
        , m_gridStart(kBoot)
        , m_interval(timer.interval)
        , m_nextExpiry(kBoot + timer.interval)
        , m_restartAt(timer.restartAt < 0 ? kNever : kBoot + timer.restartAt)
        , m_timer(timer)
        , m_random(23)
    {}

    void run(Micros duration)
    {
        m_now = kBoot;
        m_pacing.startOver(true);
        m_watchTimer = m_pacing.followsTimer();
        const Micros end = kBoot + duration;
        for (int events = 0; events < 100'000; ++events) {
            const Micros refresh = std::llround(m_nextRefresh);
            const Micros wake = threadWake();
            const Micros next = std::min({refresh, m_nextExpiry, m_restartAt, wake});
            if (next > end)
                return;
            m_now = next;
            // What happens in the world at a time comes before the thread.
            if (refresh == next)
                beginRefresh();
            else if (m_nextExpiry == next)
                expire();
            else if (m_restartAt == next)
                restartTimer();
            else
                wakeThread();
        }
        QFAIL("the simulation does not move on");
    }

    const std::vector<Step> &steps() const { return m_steps; }
    const RefreshPacing &pacing() const { return m_pacing; }
    double period() const { return m_period; }

private:
    // A report asked for (of refresh msc), and once its refresh began, sent.
    struct Report
    {
        quint32 serial;
        quint64 msc;
        bool skipped;
        Micros at = 0;
        Refresh refresh{};
        int ordinal = -1;
    };

    void requestReport(quint32 serial, quint64 msc) override
    {
        if (serial != RefreshPacing::kClockSerial) {
            // Where the display as it is now puts the refresh asked for.
            const double last = m_starts.empty() ? m_nextRefresh - m_period
                                                 : static_cast<double>(m_starts.back());
            const auto ahead = static_cast<qint64>(msc - (m_nextMsc - 1));
            m_asked[serial] = {msc, last + static_cast<double>(ahead) * m_period};
            if (m_display.skipEvery > 0 && ++m_stepAsks % m_display.skipEvery == 0) {
                m_pending.push_back({serial, msc + m_display.skipBy, true});
                return;
            }
        }
        m_pending.push_back({serial, msc, false});
    }

    double noise() { return (m_random.generateDouble() * 2 - 1) * double(m_display.jitter); }

    void beginRefresh()
    {
        const Display &d = m_display;
        if (!m_changed && d.changeAt >= 0 && m_now >= kBoot + d.changeAt) {
            m_changed = true;
            m_nextMsc = static_cast<quint64>(static_cast<qint64>(m_nextMsc) + d.mscJump);
            m_period = 1e6 / d.newRate;
        }
        const quint64 msc = m_nextMsc++;
        const int ordinal = static_cast<int>(m_starts.size());
        m_starts.push_back(m_now);
        m_nextRefresh += m_period;
        if (d.silentFrom >= 0 && m_now >= kBoot + d.silentFrom)
            return;
        for (auto request = m_pending.begin(); request != m_pending.end();) {
            if (request->msc > msc) {
                ++request;
                continue;
            }
            Micros stamp = m_now + std::llround(noise());
            if (d.wholeMs)
                stamp -= stamp % 1000;
            request->refresh = {msc, stamp + d.clockOffset};
            request->at = m_now + d.latency + std::llround(std::abs(noise()));
            request->ordinal = ordinal;
            m_deliveries.emplace(request->at, *request);
            request = m_pending.erase(request);
        }
    }

    void restartTimer()
    {
        m_restartAt = kNever;
        m_gridStart = m_now;
        m_interval = m_timer.newInterval;
        m_nextExpiry = m_now + m_interval;
        m_expired = false;
        ++m_epoch;
    }

    void expire()
    {
        m_expired = true;
        m_nextExpiry += m_interval;
    }

    Micros threadWake() const
    {
        if (m_watchTimer && m_expired)
            return m_now;
        Micros wake = m_watchTimer ? kNever : m_timeoutAt;
        if (!m_deliveries.empty())
            wake = std::min(wake, m_deliveries.begin()->first);
        return wake;
    }

    // As the step thread reads the timer: the next deadline and the interval.
    RefreshPacing::TimerGrid grid() const { return {m_nextExpiry, m_interval, true}; }

    void wakeThread()
    {
        if (m_watchTimer && m_expired) {
            m_expired = false;
            if (m_pacing.deadlinePassed(grid(), m_now))
                step(nullptr);
        }
        bool due = false;
        Report shown{};
        while (!m_deliveries.empty() && m_deliveries.begin()->first <= m_now) {
            const Report delivery = m_deliveries.begin()->second;
            m_deliveries.erase(m_deliveries.begin());
            if (m_pacing.reported(delivery.serial, delivery.refresh, grid(), m_now)) {
                // Two steps due at one wake-up: one of them is never seen.
                QVERIFY2(!due, "two steps at one report");
                due = true;
                shown = delivery;
            }
        }
        if (due)
            step(&shown);
        else
            m_pacing.giveUpIfLost(m_now);
        m_watchTimer = m_pacing.followsTimer();
        m_timeoutAt = m_watchTimer ? kNever : m_now + m_pacing.timeout(m_now) * 1000;
    }

    void step(const Report *report)
    {
        Step s;
        s.at = m_now;
        s.epoch = m_epoch;
        s.interval = m_interval;
        s.period = m_period;
        s.followsTimer = m_pacing.followsTimer();
        s.rate = m_pacing.refreshRate();
        s.slot = (m_now - m_gridStart) / m_interval;
        if (report) {
            s.paced = true;
            s.skipped = report->skipped;
            s.ordinal = report->ordinal;
            s.refreshStart = m_starts.at(static_cast<size_t>(report->ordinal));
            const auto asked = m_asked.find(report->serial);
            QVERIFY2(asked != m_asked.end(), "a step at a report not asked for");
            const auto [msc, expected] = asked->second;
            s.slot = std::llround((expected - double(m_gridStart)) / double(m_interval));
            // The refresh after the one reported began before the step.
            const bool nextBegan = static_cast<size_t>(report->ordinal) + 1 < m_starts.size();
            s.late = report->refresh.msc != msc || nextBegan;
        }
        s.deadline = m_gridStart + s.slot * m_interval;
        m_steps.push_back(s);
    }

    Display m_display;
    double m_period;
    double m_nextRefresh;
    quint64 m_nextMsc = 1'000'000;
    bool m_changed = false;
    std::vector<Micros> m_starts;
    std::vector<Report> m_pending;
    std::multimap<Micros, Report> m_deliveries;
    // The refresh each step asked for, and when the display then put it.
    std::map<quint32, std::pair<quint64, double>> m_asked;
    int m_stepAsks = 0;

    Micros m_gridStart, m_interval, m_nextExpiry, m_restartAt;
    bool m_expired = false;
    int m_epoch = 0;
    Timer m_timer;

    RefreshPacing m_pacing{*this};
    Micros m_now = 0;
    bool m_watchTimer = true;
    Micros m_timeoutAt = kNever;
    std::vector<Step> m_steps;
    QRandomGenerator m_random;
};

// Rows that show faults of the policy. A report that comes less than half an
// interval before its step's deadline, from a display whose count or rate is
// not the clock's, is taken for the step's own: the step is shown early, by
// up to half an interval. And the clock locks on its first few reports and is
// then asked no more: on whole milliseconds it locks at 142.86 Hz, and the
// first steps go a refresh off.
constexpr char kAheadLate[] = "another display, its count far ahead, late in an interval";
constexpr char kRateChange[] = "the display's rate changes, its count goes on";
constexpr char kWholeMs[] = "a made-up clock on whole milliseconds, 144 Hz";
constexpr char kEarlyReport[] = "a report from another display shows its step early";
constexpr char kFirstFit[] = "a clock learnt from few reports puts steps a refresh off";

QString describe(const Step &s)
{
    return QString::asprintf("step %lld of grid %d at %.3f ms (%s)", s.slot, s.epoch,
                             double(s.at - kBoot) / 1000, s.paced ? "paced" : "timer");
}

} // namespace

Q_DECLARE_METATYPE(Display)
Q_DECLARE_METATYPE(Timer)

class TestPacing final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void steps_data();
    void steps();
};

// Five seconds of steps on a display and a timer. Whether the steps end on the
// display's clock, whether every step a report brought is late (or only those
// whose report was of a later refresh than asked), and how many of the timer's
// deadlines get no step at all.
void TestPacing::steps_data()
{
    QTest::addColumn<Display>("display");
    QTest::addColumn<Timer>("timer");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<bool>("allLate");
    QTest::addColumn<int>("lost");

    const Timer fast;
    const Timer medium{150'000};
    const Timer slow{200'000};
    QTest::newRow("60 Hz, 100 ms") << Display() << fast << true << false << 0;
    QTest::newRow("59.94 Hz, 150 ms, noisy stamps")
        << Display(59.94, 0.7).noisy(300) << medium << true << false << 0;
    QTest::newRow("75 Hz, 100 ms: 7 or 8 refreshes")
        << Display(75, 0.13).noisy(50) << fast << true << false << 0;
    QTest::newRow("144 Hz, 200 ms: 28 or 29 refreshes")
        << Display(144, 0.5).noisy(20) << slow << true << false << 0;
    QTest::newRow("120 Hz, 150 ms, steps right between refreshes")
        << Display(120, 0.5).noisy(100) << medium << true << false << 0;
    QTest::newRow("reports late, still within their refresh")
        << Display().late(12'000).noisy(300) << fast << true << false << 0;
    QTest::newRow("reports a refresh and a half late")
        << Display().late(25'000) << fast << true << true << 0;
    QTest::newRow("every 5th report two refreshes later than asked")
        << Display().skipping(5, 2) << fast << true << false << 0;
    QTest::newRow("every 3rd report a refresh later, 144 Hz")
        << Display(144, 0.2).skipping(3, 1) << slow << true << false << 0;
    QTest::newRow("a made-up clock on whole milliseconds, 75 Hz")
        << Display(75, 0.3).onWholeMs() << fast << true << false << 0;
    QTest::newRow(kWholeMs) << Display(144, 0.5).onWholeMs() << slow << true << false << 0;
    QTest::newRow("reports stop") << Display().silent(2'030'000) << fast << false << false << 1;
    QTest::newRow("reports stop while the clock is learnt")
        << Display().silent(60'000) << fast << false << false << 0;
    QTest::newRow("stamps on another clock")
        << Display().otherClock(86'400'000'000) << fast << false << false << 0;
    QTest::newRow("stamps a second and a half off")
        << Display().otherClock(-1'500'000) << fast << false << false << 0;
    QTest::newRow("another display, its count far ahead")
        << Display().change(2'020'000, 60, 500'000) << fast << true << false << 0;
    QTest::newRow("another display at 75 Hz, its count far ahead")
        << Display().change(2'020'000, 75, 500'000) << fast << true << false << 0;
    QTest::newRow(kAheadLate) << Display().change(2'070'000, 60, 500'000) << fast << true << false
                              << 0;
    QTest::newRow("another display, its count far behind")
        << Display().change(2'020'000, 144, -900'000) << fast << true << false << 1;
    QTest::newRow(kRateChange) << Display().change(2'020'000, 75, 0) << fast << true << false << 0;
    QTest::newRow("the timer starts over on a longer interval")
        << Display() << Timer{100'000, 2'040'000, 150'000} << true << false << 0;
    QTest::newRow("the timer starts over on a shorter interval, 75 Hz")
        << Display(75, 0.6) << Timer{200'000, 2'170'000, 100'000} << true << false << 0;
    QTest::newRow("the timer starts over, same interval, another start")
        << Display() << Timer{100'000, 2'055'000, 100'000} << true << false << 0;
    QTest::newRow("the timer starts over while the clock is learnt")
        << Display() << Timer{100'000, 120'000, 150'000} << true << false << 0;
    QTest::newRow("the timer starts over, no clock")
        << Display().otherClock(86'400'000'000) << Timer{100'000, 1'230'000, 150'000} << false
        << false << 0;
}

void TestPacing::steps()
{
    QFETCH(Display, display);
    QFETCH(Timer, timer);
    QFETCH(bool, locked);
    QFETCH(bool, allLate);
    QFETCH(int, lost);

    Simulation simulation(display, timer);
    simulation.run(kRun);
    if (QTest::currentTestFailed())
        return;
    const std::vector<Step> &steps = simulation.steps();
    QVERIFY(steps.size() > 10);

    bool everLocked = false;
    const bool relearns = display.silentFrom >= 0 || display.changeAt >= 0;
    int paced = 0, skipped = 0, shownLate = 0, missing = 0;
    // The first step shown before its refresh, and the first off its refresh
    // or its count of refreshes.
    QString early, offBeat;
    const Step *previous = nullptr;
    for (const Step &s : steps) {
        const QByteArray where = describe(s).toUtf8();
        const Micros deadline = s.deadline;
        everLocked = everLocked || s.rate > 0;
        // Until the clock is known, and whenever it is not, the timer's
        // deadlines bring the steps.
        QVERIFY2(everLocked || !s.paced, where.constData());
        // Once known, the clock is learnt anew only for a display that changed.
        QVERIFY2(s.rate > 0 || !everLocked || relearns, where.constData());
        QVERIFY2(s.rate > 0 || s.followsTimer, where.constData());
        // Its own refresh begins nearest to its deadline (an eighth of a
        // refresh further where the deadline lies right between two).
        const double margin = s.period * 5 / 8 + 2.0 * double(display.jitter) + 1;
        const double off = double(s.refreshStart - deadline);
        const bool shownEarly = s.paced && -off > margin;
        if (!s.paced) {
            // At its deadline, or (given up on a refresh) within a millisecond.
            QVERIFY2(s.at - deadline <= 1000, where.constData());
        } else if (shownEarly) {
            if (early.isEmpty())
                early = describe(s) + QStringLiteral(": %1 us early").arg(-off);
        } else {
            ++paced;
            skipped += s.skipped ? 1 : 0;
            shownLate += s.late ? 1 : 0;
            QVERIFY2(!s.followsTimer, where.constData());
            if (!s.late && off > margin && offBeat.isEmpty())
                offBeat = describe(s) + QStringLiteral(": %1 us late").arg(off);
        }
        // Each grid's deadlines are counted from 1: no step twice, none
        // before the grid's first.
        if (previous && previous->epoch != s.epoch)
            previous = nullptr;
        const qint64 expected = previous ? previous->slot + 1 : 1;
        QVERIFY2(s.slot >= expected, where.constData());
        missing += static_cast<int>(s.slot - expected);
        // A whole number of refreshes between two steps on time: the ratio's
        // floor or ceiling.
        if (previous && previous->paced && s.paced && !previous->late && !s.late && !shownEarly
            && previous->period == s.period && s.slot == previous->slot + 1) {
            const double ratio = double(s.interval) / s.period;
            const int count = s.ordinal - previous->ordinal;
            if (count != std::floor(ratio) && count != std::ceil(ratio) && offBeat.isEmpty())
                offBeat = describe(s) + QStringLiteral(": %1 refreshes").arg(count);
        }
        previous = &s;
    }
    // The steps went on to the end.
    QVERIFY2(kBoot + kRun - steps.back().deadline < 2 * steps.back().interval,
             qPrintable(describe(steps.back())));
    QCOMPARE(missing, lost);

    const double rate = simulation.pacing().refreshRate();
    if (locked) {
        const double actual = 1e6 / simulation.period();
        QVERIFY2(std::abs(rate - actual) <= actual * 1e-3, qPrintable(QString::number(rate)));
        QVERIFY2(steps.back().paced, qPrintable(describe(steps.back())));
        // The clock is learnt within half a second.
        const auto first
            = std::find_if(steps.begin(), steps.end(), [](const Step &s) { return s.paced; });
        QVERIFY(first != steps.end() && first->at - kBoot < 500'000);
    } else {
        QCOMPARE(rate, 0.0);
        QVERIFY(steps.back().followsTimer);
    }

    QEXPECT_FAIL(kAheadLate, kEarlyReport, Continue);
    QEXPECT_FAIL(kRateChange, kEarlyReport, Continue);
    QEXPECT_FAIL(kWholeMs, kFirstFit, Continue);
    QVERIFY2(early.isEmpty(), qPrintable(early));
    QEXPECT_FAIL(kWholeMs, kFirstFit, Continue);
    QVERIFY2(offBeat.isEmpty(), qPrintable(offBeat));
    QCOMPARE(shownLate, allLate ? paced : skipped);
    // A step given up is late too.
    QEXPECT_FAIL(kAheadLate, "and counts it late", Continue);
    QCOMPARE(simulation.pacing().lateSteps(), quint64(shownLate + missing));
}

QTEST_APPLESS_MAIN(TestPacing)
#include "test_pacing.moc"
