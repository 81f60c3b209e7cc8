#pragma once

#include <QtGlobal>

#include <chrono>

namespace timing {

// Every time on the step path: microseconds on the monotonic clock, the clock
// the kernel's timers keep and X and Wayland stamp refreshes with
// (CLOCK_MONOTONIC on Linux, the performance counter on Windows). One signed
// integer type, so that differences and deadlines need no casts.
using Micros = qint64;

inline Micros monotonicMicros() noexcept
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace timing
