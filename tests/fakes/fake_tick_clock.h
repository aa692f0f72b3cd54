// A timer clock that a test can move: the steady clock plus an offset.
#pragma once

#include <chrono>
#include <memory>

#include <boost/asio/io_service.hpp>

#include "service/tick_clock.h"

namespace fakeclock {

// Moves the clock forward (or back) by the given amount from now on.
void advance(std::chrono::steady_clock::duration by);
void reset();

// Moves the clock, and makes io look at its timers again as a real stall
// would (a timer already due does it). The result turns true once io has
// looked; the handlers of the timers due by then are queued behind it.
inline std::shared_ptr<bool> advance(boost::asio::io_service& io, std::chrono::steady_clock::duration by)
{
    advance(by);
    auto looked = std::make_shared<bool>(false);
    auto poke = std::make_shared<zq::TickTimer>(io);
    poke->expires_at(zq::TickClock::time_point{});
    poke->async_wait([poke, looked](const boost::system::error_code&) { *looked = true; });
    return looked;
}

}  // namespace fakeclock
