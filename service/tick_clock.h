// The clock of the agent's timers: a steady clock, so that a step of the
// wall clock (a time sync at boot, a hand correction) neither silences the
// ticks nor makes up for them in a burst.
//
// The clock is chosen when the program is linked, not at run time: now() and
// the timers' wait are a seam of their own. The agent links
// tick_clock_steady.cpp; a test links a stand-in that it can move forward as
// a stall or a resume from sleep would (tests/fakes), or the virtual clock of
// tick_clock_virtual.cpp, on which the agent lives through a month in
// seconds.
#pragma once

#include <chrono>

#include <boost/asio/basic_waitable_timer.hpp>

namespace zq {

struct TickClock {
    using duration = std::chrono::steady_clock::duration;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<TickClock, duration>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept;
};

// How long the I/O loop sleeps for a timer that expires after d on the
// clock: d itself on a clock that runs with real time; a virtual clock, which
// moves only when its driver moves it, has the loop look at its timers again
// at once.
struct TickWaitTraits {
    static TickClock::duration to_wait_duration(const TickClock::duration& d);
    static TickClock::duration to_wait_duration(const TickClock::time_point& t);
};

// Every timer of the agent.
using TickTimer = boost::asio::basic_waitable_timer<TickClock, TickWaitTraits>;

}  // namespace zq
