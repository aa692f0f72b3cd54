#include "fakes/scripted_service.h"

namespace scriptedservice {

std::vector<Status> statuses;
std::vector<svc::Event> events;
std::function<bool(int)> onWait;
int gWaits = 0;
std::uint64_t gNow = 0;
int gStored = 0;
int gAtStop = 0;

void reset()
{
    statuses.clear();
    events.clear();
    onWait = [](int) { return true; };
    gWaits = 0;
    gNow = 1000;
    gStored = 0;
    gAtStop = 0;
}

}  // namespace scriptedservice

namespace svc {

using namespace scriptedservice;

Start howStarted() { return Start::ByManager; }
int runDispatcher(int (*body)())
{
    gStored = body();
    return gAtStop;
}

void storeResult(int win32ExitCode) { gStored = win32ExitCode; }

void setStatus(State state, unsigned long win32, unsigned long specific)
{
    statuses.push_back({state, win32, specific});
    if (state == State::Stopped)
        gAtStop = gStored;
}

void reportEvent(EventType type, const std::string& text) { events.push_back({type, text}); }
std::uint64_t nowMilliseconds() { return gNow; }

bool waitForStop(unsigned milliseconds)
{
    gNow += milliseconds;
    return onWait(++gWaits);
}

}  // namespace svc
