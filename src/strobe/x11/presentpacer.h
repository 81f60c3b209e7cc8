#pragma once

#include "strobe/x11/filltarget.h"
#include "timing/pacer.h"
#include "timing/refreshpacing.h"

#include <QtGlobal>

#include <xcb/xcb.h>

#include <memory>

namespace strobe {

// Paces the strobe's steps by the refreshes of the display the fill is on, as
// the X server's Present extension reports them, on the step thread's own
// connection; the policy is RefreshPacing's. Times are microseconds on the
// monotonic clock, the clock the server stamps refreshes with.
class PresentPacer final
    : public timing::Pacer
    , private timing::RefreshReports
{
public:
    // Null where the server behind connection has no Present extension.
    static std::unique_ptr<PresentPacer> create(XcbConnection connection,
                                                std::shared_ptr<FillTarget> target);
    ~PresentPacer() override;
    Q_DISABLE_COPY_MOVE(PresentPacer)

    int descriptor() const noexcept override;
    bool followsTimer() const noexcept override { return m_pacing.followsTimer(); }
    int timeout(timing::Micros now) const noexcept override { return m_pacing.timeout(now); }
    bool deadlinePassed(TimerGrid grid, timing::Micros now) noexcept override;
    bool paced(TimerGrid grid, timing::Micros now) noexcept override;
    double refreshRate() const noexcept override { return m_pacing.refreshRate(); }
    quint64 lateSteps() const noexcept override { return m_pacing.lateSteps(); }

private:
    PresentPacer(XcbConnection connection, std::shared_ptr<FillTarget> target,
                 quint8 presentOpcode);
    // Where the steps are shown; a new window starts the clock over.
    void follow(xcb_window_t window);
    // An event read from the connection: whether to show a step now.
    bool handle(const xcb_generic_event_t &event, TimerGrid grid, timing::Micros now);
    void requestReport(quint32 serial, quint64 msc) override;

    XcbConnection m_connection;
    std::shared_ptr<FillTarget> m_target;
    quint8 m_presentOpcode;
    xcb_window_t m_window = 0;
    quint32 m_events = 0;
    timing::RefreshPacing m_pacing{*this};
};

} // namespace strobe
