#include "fakes/scripted_service.h"

namespace scriptedservice {

std::vector<Status> statuses;
std::vector<svc::Event> events;
std::function<bool(int)> onWait;

namespace {
int gWaits = 0;
std::uint64_t gNow = 0;
}  // namespace

void reset()
{
    statuses.clear();
    events.clear();
    onWait = [](int) { return true; };
    gWaits = 0;
    gNow = 1000;
}

}  // namespace scriptedservice

namespace svc {

Start howStarted()
{
    return Start::ByManager;
}

int runDispatcher(int (*body)())
{
    return body();
}

void setStatus(State state, unsigned long win32ExitCode, unsigned long specificExitCode)
{
    scriptedservice::statuses.push_back({state, win32ExitCode, specificExitCode});
}

bool waitForStop(unsigned milliseconds)
{
    scriptedservice::gNow += milliseconds;
    return scriptedservice::onWait(++scriptedservice::gWaits);
}

void reportEvent(EventType type, const std::string& text)
{
    scriptedservice::events.push_back({type, text});
}

std::uint64_t nowMilliseconds()
{
    return scriptedservice::gNow;
}

}  // namespace svc
