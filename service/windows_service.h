// The agent as a Windows service: the logic of the service's run (start,
// the event pump, the stop and its exit codes) and the few calls of the
// Service Control Manager and the Windows event log that it makes. The calls
// are a seam: service/windows_service_win.cpp makes them on Windows, and the
// tests link a scripted stand-in (tests/fakes/scripted_service.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace svc {

// The service's name and the event source's name, as installed.
constexpr const char* kServiceName = "BrindlemoorWatchDog";
constexpr const char* kEventSourceName = "Brindlemoor Watch Dog";

// The service states, by the manager's numbers (SERVICE_STOPPED ...).
enum class State : unsigned long { Stopped = 1, StartPending = 2, StopPending = 3, Running = 4 };

// ERROR_SERVICE_SPECIFIC_ERROR: the service-specific exit code says why.
constexpr unsigned long kServiceSpecificError = 1066;
// The service-specific exit codes of a failed start.
constexpr unsigned long kExitPortHeld = 1;      // another program holds UDP port 45654
constexpr unsigned long kExitStartFailed = 2;   // any other failure of the agent's start

enum class EventType { Error, Warning, Information };

struct Event {
    EventType type;
    std::string text;
};

// How the program was started.
enum class Start {
    ByManager,     // the Service Control Manager started this process as the service
    Installed,     // the service is installed, and this is some other start
    NotInstalled,  // no service: the desktop program
};

// ---- the seam

// Asks the manager, without waiting: whether the service is installed and
// whether this process is the one it is starting.
Start howStarted();
// Hands the main thread to the manager, which calls body as the service's
// run (on a thread of its own); returns the result stored by storeResult, or
// the system's error when the manager cannot be reached. The manager lets it
// return, or ends the process, as soon as the service reports Stopped, which
// may be before body has returned.
int runDispatcher(int (*body)());
// Keeps the service's result for runDispatcher to return: stored before the
// Stopped report.
void storeResult(int win32ExitCode);
// Tells the manager the service's state; the exit codes count in Stopped.
void setStatus(State state, unsigned long win32ExitCode, unsigned long specificExitCode);
// Waits up to milliseconds for a stop or shutdown control; true once one came.
bool waitForStop(unsigned milliseconds);
// Writes one entry to the Windows Application event log.
void reportEvent(EventType type, const std::string& text);
// A steady clock in milliseconds, for the event pump's rate limit.
std::uint64_t nowMilliseconds();

// ---- the logic

// A token bucket: up to burst entries at once, then one every
// millisecondsPerEntry on average. Pure: the caller passes the time.
class EventRateLimit {
public:
    explicit EventRateLimit(std::size_t burst = 100, std::uint64_t millisecondsPerEntry = 1000);
    // Whether one entry may go out at nowMs; takes its token if so.
    bool allow(std::uint64_t nowMs);

private:
    void refill(std::uint64_t nowMs);

    std::uint64_t mCapacity;  // in milliseconds of credit
    std::uint64_t mCost;
    std::uint64_t mCredit;
    std::uint64_t mLast = 0;
    bool mStarted = false;
};

// Turns the event log's text, taken twice a second, into event-log entries:
// one per list line, as the dialog would show them, as far as the rate limit
// allows; the lines over it are counted and said in one entry
// "EVENT LOG ENTRIES LEFT OUT BY RATE LIMIT=[N]" once the limit allows again.
class EventPump {
public:
    explicit EventPump(EventRateLimit limit = EventRateLimit()) : mLimit(limit) {}
    std::vector<Event> pump(const std::string& log, std::uint64_t nowMs);
    // At the end: the entry of the lines left out, if any, limit or not.
    std::vector<Event> flush();

private:
    Event leftOutNote();

    EventRateLimit mLimit;
    std::uint64_t mLeftOut = 0;
};

// The exit codes of a start that failed with error: port 45654 held, or
// anything else.
unsigned long startFailureCode(const std::exception& error);

// The service's whole run, on the thread the manager calls: starts the
// agent (the same façade as the desktop program), writes its event log to
// the Windows event log twice a second until a stop or shutdown control,
// stops the agent as Exit does and reports Stopped with exit code 0; a
// failed start reports Stopped with ERROR_SERVICE_SPECIFIC_ERROR and the
// reason in the event log. Returns the Win32 exit code.
int runService();

}  // namespace svc
