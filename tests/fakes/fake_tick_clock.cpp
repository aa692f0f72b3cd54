#include "fakes/fake_tick_clock.h"

#include <atomic>

#include "service/tick_clock.h"

namespace {
std::atomic<std::chrono::steady_clock::duration::rep> gOffset{0};
}  // namespace

namespace fakeclock {

void advance(std::chrono::steady_clock::duration by)
{
    gOffset += by.count();
}

void reset()
{
    gOffset = 0;
}

}  // namespace fakeclock

namespace zq {

TickClock::time_point TickClock::now() noexcept
{
    return time_point(std::chrono::steady_clock::now().time_since_epoch() +
                      std::chrono::steady_clock::duration(gOffset.load()));
}

// Waits are real: the offset moves the clock, not the passing of time.
TickClock::duration TickWaitTraits::to_wait_duration(const TickClock::duration& d)
{
    return d;
}

TickClock::duration TickWaitTraits::to_wait_duration(const TickClock::time_point& t)
{
    return t - TickClock::now();
}

}  // namespace zq
