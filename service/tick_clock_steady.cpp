// The timers' clock on every platform: the standard steady clock, waited for
// in real time.
#include "service/tick_clock.h"

namespace zq {

TickClock::time_point TickClock::now() noexcept
{
    return time_point(std::chrono::steady_clock::now().time_since_epoch());
}

TickClock::duration TickWaitTraits::to_wait_duration(const TickClock::duration& d)
{
    return d;
}

TickClock::duration TickWaitTraits::to_wait_duration(const TickClock::time_point& t)
{
    return t - TickClock::now();
}

}  // namespace zq
