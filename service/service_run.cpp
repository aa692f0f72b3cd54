// The agent's run as a Windows service, free of the platform's calls (they
// are in the seam of service/windows_service.h): start, the event pump with
// its rate limit, the stop and the exit codes.
#include "service/windows_service.h"

#include <algorithm>
#include <system_error>

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include "service/zq_srv.h"
#include "trace/trace.h"

namespace svc {

namespace {

// The event log is taken as often as the dialog would refresh.
constexpr unsigned kPumpMilliseconds = 500;

void writeEvents(const std::vector<Event>& events)
{
    for (const Event& event : events)
        reportEvent(event.type, event.text);
}

// The last report: from it on the manager may end the process or let the
// dispatcher return, so the result is stored first, and the report carries
// the same failure.
int reportStopped(unsigned long win32ExitCode, unsigned long specificExitCode)
{
    storeResult(static_cast<int>(win32ExitCode));
    setStatus(State::Stopped, win32ExitCode, specificExitCode);
    return static_cast<int>(win32ExitCode);
}

}  // namespace

EventRateLimit::EventRateLimit(std::size_t burst, std::uint64_t millisecondsPerEntry)
    : mCapacity(burst * millisecondsPerEntry), mCost(millisecondsPerEntry), mCredit(mCapacity)
{
}

void EventRateLimit::refill(std::uint64_t nowMs)
{
    if (mStarted && nowMs > mLast)
        mCredit = std::min(mCapacity, mCredit + (nowMs - mLast));
    // A clock that goes back gives nothing, and the next refill counts
    // from where it is now.
    mLast = nowMs;
    mStarted = true;
}

bool EventRateLimit::allow(std::uint64_t nowMs)
{
    refill(nowMs);
    if (mCredit < mCost)
        return false;
    mCredit -= mCost;
    return true;
}

Event EventPump::leftOutNote()
{
    Event note{EventType::Warning, "EVENT LOG ENTRIES LEFT OUT BY RATE LIMIT=[" + std::to_string(mLeftOut) + "]"};
    mLeftOut = 0;
    return note;
}

std::vector<Event> EventPump::pump(const std::string& log, std::uint64_t nowMs)
{
    std::vector<Event> events;
    // The note of an earlier flood goes first, once the limit allows again.
    if (mLeftOut > 0 && mLimit.allow(nowMs))
        events.push_back(leftOutNote());
    for (std::string& line : splitEventLog(log)) {
        if (mLeftOut == 0 && mLimit.allow(nowMs)) {
            // Caught failures are warnings; received texts and marks are news.
            EventType type = line.rfind(" ZqServer= ", 0) == 0 ? EventType::Warning : EventType::Information;
            events.push_back(Event{type, std::move(line)});
        } else {
            ++mLeftOut;
        }
    }
    return events;
}

std::vector<Event> EventPump::flush()
{
    std::vector<Event> events;
    if (mLeftOut > 0)
        events.push_back(leftOutNote());
    return events;
}

unsigned long startFailureCode(const std::exception& error)
{
    auto* systemError = dynamic_cast<const boost::system::system_error*>(&error);
    if (systemError != nullptr && systemError->code() == boost::asio::error::address_in_use)
        return kExitPortHeld;
    return kExitStartFailed;
}

int runService()
{
    setStatus(State::StartPending, 0, 0);
    std::string reason;
    unsigned long code = 0;
    try {
        gSrv = new zq::ZqSrv();
    } catch (const std::exception& error) {
        reason = error.what();
        code = startFailureCode(error);
    } catch (...) {
        reason = "unknown error";
        code = kExitStartFailed;
    }
    if (gSrv == nullptr) {
        trace("*** EXCEPTION  ServiceMain\n");
        // Whatever the failed start wrote to the event log goes first.
        EventPump failed;
        writeEvents(failed.pump(gEventLog.take(), nowMilliseconds()));
        reportEvent(EventType::Error, "Brindlemoor Win32 Watch Dog could not start: " + reason);
        return reportStopped(kServiceSpecificError, code);
    }
    setStatus(State::Running, 0, 0);

    EventPump pump;
    while (!waitForStop(kPumpMilliseconds))
        writeEvents(pump.pump(zq::ZqSrv::takeEventLog(), nowMilliseconds()));

    setStatus(State::StopPending, 0, 0);
    // The same stop as Exit: returns once the service has stopped.
    delete gSrv;
    gSrv = nullptr;
    writeEvents(pump.pump(gEventLog.take(), nowMilliseconds()));
    writeEvents(pump.flush());
    return reportStopped(0, 0);
}

}  // namespace svc
