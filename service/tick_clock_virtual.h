// A virtual time for the agent's timers, for a program that links
// tick_clock_virtual.cpp in place of the steady clock: time stands still
// until the program's driver moves it, and the I/O loop never sleeps for a
// timer, so that each poll() of the loop runs the handlers of every timer
// that the last move made due. A month of the agent's life then takes as
// long as its work, not as long as its waits.
//
// The driver polls the loop (poll(), run_one_for() with a short limit); a
// loop that is run() would wait for a timer not yet due. On Windows the loop
// looks at its timers only once Asio's timer thread has woken it, which it
// does when a timer's wait has run out: after each move the driver starts a
// timer of the steady clock due at once, and polls until the handler it
// waits for has run.
#pragma once

#include "service/tick_clock.h"

namespace zq {
namespace virtualclock {

// Moves the virtual time forward by by; it starts at TickClock's epoch.
void advance(TickClock::duration by);

}  // namespace virtualclock
}  // namespace zq
