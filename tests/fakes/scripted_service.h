// A scripted stand-in for the Windows service's seam: records the statuses
// and event-log entries, plays the stop control and the clock.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "service/windows_service.h"

namespace scriptedservice {

struct Status {
    svc::State state;
    unsigned long win32ExitCode;
    unsigned long specificExitCode;
};

// Everything the service has told the manager and the event log.
extern std::vector<Status> statuses;
extern std::vector<svc::Event> events;
// Called on each wait for the stop control with the wait's number (from 1);
// the wait says a stop came when it returns true. The clock moves by the
// wait's milliseconds on each wait.
extern std::function<bool(int)> onWait;

void reset();

}  // namespace scriptedservice
