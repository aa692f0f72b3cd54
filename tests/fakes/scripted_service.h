// A scripted stand-in for the Windows service's seam: records the statuses
// and event-log entries; plays the stop control and a clock that each wait
// moves by its milliseconds. As the manager's, its dispatcher returns the
// result stored when the service reported Stopped, not what the body
// returned after it.
#pragma once

#include <functional>
#include <vector>

#include "service/windows_service.h"

namespace scriptedservice {

struct Status {
    svc::State state;
    unsigned long win32ExitCode;
    unsigned long specificExitCode;
};

extern std::vector<Status> statuses;
extern std::vector<svc::Event> events;
// Called by each wait with its number (from 1); true plays the stop control.
extern std::function<bool(int)> onWait;

void reset();

}  // namespace scriptedservice
