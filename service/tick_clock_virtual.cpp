// The timers' clock of a virtual-time build: one process-wide time that only
// virtualclock::advance moves, and no real waiting for it.
#include "service/tick_clock_virtual.h"

#include <atomic>

namespace zq {

namespace {
std::atomic<TickClock::rep> gNow{0};
}  // namespace

void virtualclock::advance(TickClock::duration by)
{
    gNow.fetch_add(by.count(), std::memory_order_relaxed);
}

TickClock::time_point TickClock::now() noexcept
{
    return time_point(duration(gNow.load(std::memory_order_relaxed)));
}

// A timer due by the virtual time waits zero, whatever the real time is, so
// that the loop looks at the timers at once. One not yet due waits an hour:
// nothing but a move of the time makes it due, and on Windows a zero wait
// would have Asio's timer thread wake the loop for it again and again (the
// driver wakes it after each move, tick_clock_virtual.h).
TickClock::duration TickWaitTraits::to_wait_duration(const TickClock::duration& d)
{
    return d <= TickClock::duration::zero() ? TickClock::duration::zero() : std::chrono::hours(1);
}

TickClock::duration TickWaitTraits::to_wait_duration(const TickClock::time_point& t)
{
    return to_wait_duration(t - TickClock::now());
}

}  // namespace zq
