// A scripted total-processor-time counter: each operation hands out the next
// result its test queued and counts its calls.
#pragma once

#include "hostinfo/cpu_counter.h"

namespace fakecpu {

using cpucounter::Status;

// Results are handed out in the order they were queued. With its queue empty
// an operation succeeds (status 0), and a read gives the default value.
void pushOpen(Status status);
void pushCollect(Status status);
void pushValue(Status status, double value);
void setDefaultValue(double value);

struct Calls {
    int open = 0;
    int add = 0;
    int collect = 0;
    int format = 0;
};
Calls calls();

// How many queued results are still waiting to be handed out.
int pending();

// Empties the queues, zeroes the counts and sets the default value to 0.
void reset();

}  // namespace fakecpu
