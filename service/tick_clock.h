// The clock of the timer cycle: a steady clock, so that a step of the wall
// clock (a time sync at boot, a hand correction) neither silences the ticks
// nor makes up for them in a burst.
//
// now() is a seam of its own (tick_clock_steady.cpp in the agent): a test
// links a stand-in that it can move forward, as a stall or a resume from
// sleep would.
#pragma once

#include <chrono>

namespace zq {

struct TickClock {
    using duration = std::chrono::steady_clock::duration;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<TickClock, duration>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept;
};

}  // namespace zq
