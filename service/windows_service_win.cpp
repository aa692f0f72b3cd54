// The Windows service's calls of the Service Control Manager and the event
// log: how the program was started, the dispatcher, the service's status,
// the stop and shutdown controls, and the entries of the Application log
// under the event source, with the message table compiled into the program.
#include "service/windows_service.h"

#include <atomic>

#include <windows.h>

#include "service/tick_count.h"
#include "service/watchdog_events.h"
#include "service/wide_text_win.h"

namespace svc {

namespace {

const wchar_t kServiceNameW[] = L"BrindlemoorWatchDog";
const wchar_t kEventSourceNameW[] = L"Brindlemoor Watch Dog";

// Set by serviceMain before the body runs, read by the body's calls and the
// control handler (which the manager calls on the dispatcher's thread).
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
HANDLE gStopEvent = nullptr;
HANDLE gEventSource = nullptr;
int (*gBody)() = nullptr;
// Written on the service's thread, read on the main thread once the
// dispatcher returns.
std::atomic<int> gBodyResult{0};
DWORD gCheckPoint = 0;

DWORD WINAPI controlHandler(DWORD control, DWORD, LPVOID, LPVOID)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        SetEvent(gStopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD, LPWSTR*)
{
    gStatusHandle = RegisterServiceCtrlHandlerExW(kServiceNameW, controlHandler, nullptr);
    if (gStatusHandle == nullptr) {
        gBodyResult = static_cast<int>(GetLastError());
        return;
    }
    gStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gEventSource = RegisterEventSourceW(nullptr, kEventSourceNameW);
    gBodyResult = gBody();  // as stored before its Stopped report
    if (gEventSource != nullptr)
        DeregisterEventSource(gEventSource);
    gEventSource = nullptr;
}

}  // namespace

Start howStarted()
{
    // The least rights that answer the question: connect, and query status.
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return Start::NotInstalled;
    SC_HANDLE service = OpenServiceW(manager, kServiceNameW, SERVICE_QUERY_STATUS);
    if (service == nullptr) {
        CloseServiceHandle(manager);
        return Start::NotInstalled;
    }
    Start start = Start::Installed;
    // The manager names the process it starts while the service is start
    // pending; should it not have named one yet, it is asked again shortly.
    for (int attempt = 0; attempt < 20; ++attempt) {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status), sizeof status,
                                  &needed) ||
            status.dwCurrentState != SERVICE_START_PENDING)
            break;
        if (status.dwProcessId == GetCurrentProcessId()) {
            start = Start::ByManager;
            break;
        }
        if (status.dwProcessId != 0)
            break;
        Sleep(25);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return start;
}

int runDispatcher(int (*body)())
{
    gBody = body;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceNameW), serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table))
        return static_cast<int>(GetLastError());
    return gBodyResult;
}

void storeResult(int win32ExitCode)
{
    gBodyResult = win32ExitCode;
}

void setStatus(State state, unsigned long win32ExitCode, unsigned long specificExitCode)
{
    if (gStatusHandle == nullptr)
        return;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = static_cast<DWORD>(state);
    status.dwControlsAccepted = state == State::Running ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = win32ExitCode;
    status.dwServiceSpecificExitCode = specificExitCode;
    bool pending = state == State::StartPending || state == State::StopPending;
    status.dwCheckPoint = pending ? ++gCheckPoint : 0;
    // The start looks up the host's addresses, the stop waits for the loop.
    status.dwWaitHint = pending ? 30000 : 0;
    SetServiceStatus(gStatusHandle, &status);
}

bool waitForStop(unsigned milliseconds)
{
    return WaitForSingleObject(gStopEvent, milliseconds) == WAIT_OBJECT_0;
}

void reportEvent(EventType type, const std::string& text)
{
    if (gEventSource == nullptr)
        return;
    WORD eventType = type == EventType::Error     ? EVENTLOG_ERROR_TYPE
                     : type == EventType::Warning ? EVENTLOG_WARNING_TYPE
                                                  : EVENTLOG_INFORMATION_TYPE;
    // The line is the message's one insert, never a format.
    std::wstring line = widen(text);
    LPCWSTR strings[] = {line.c_str()};
    ReportEventW(gEventSource, eventType, 0, MSG_EVENT_LINE, nullptr, 1, 0, strings, nullptr);
}

std::uint64_t nowMilliseconds()
{
    return zq::tickCount64();
}

}  // namespace svc
