// The timer cycle's clock on every platform: the standard steady clock.
#include "service/tick_clock.h"

namespace zq {

TickClock::time_point TickClock::now() noexcept
{
    return time_point(std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace zq
