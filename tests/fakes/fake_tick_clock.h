// A timer clock that a test can move: the steady clock plus an offset.
#pragma once

#include <chrono>

namespace fakeclock {

// Moves the clock forward (or back) by the given amount from now on.
void advance(std::chrono::steady_clock::duration by);
void reset();

}  // namespace fakeclock
