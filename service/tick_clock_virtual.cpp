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

// A wait of zero has the loop's reactor look at the timers on each of its
// turns; they are due by the virtual time, whatever the real time is.
TickClock::duration TickWaitTraits::to_wait_duration(const TickClock::duration&)
{
    return TickClock::duration::zero();
}

TickClock::duration TickWaitTraits::to_wait_duration(const TickClock::time_point&)
{
    return TickClock::duration::zero();
}

}  // namespace zq
