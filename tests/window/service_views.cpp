// Views of the installed, running service, for tests/package/msi_install.sh
// (which has sent a configuration to the Orvane group): two views at once
// both show it; Exit closes a view while the service answers on; a view left
// open says so when net stop ends the service. PASS/FAIL lines and a tally.
//
//   service_views INSTALLED-WATCHDOG.EXE
#include "window/agent_window.h"

using namespace agentwindow;

namespace {

// Waits up to milliseconds for a list line that holds needle.
bool waitForLine(HWND dialog, const std::string& needle, DWORD milliseconds, std::string* seen)
{
    DWORD start = GetTickCount();
    do {
        seen->clear();
        for (const std::string& line : listLines(GetDlgItem(dialog, kListId))) {
            *seen += quoted(line) + " ";
            if (line.find(needle) != std::string::npos)
                return true;
        }
        Sleep(200);
    } while (GetTickCount() - start < milliseconds);
    return false;
}

long run(const std::wstring& command)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring line = command;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD code = 1;
    WaitForSingleObject(process.hProcess, 30000);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

}  // namespace

int main(int argc, char** argv)
{
    WSADATA wsa;
    if (argc < 2 || WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 2;
    std::string seen;
    Agent first(widen(argv[1]), true), second(widen(argv[1]), true);
    HWND one = waitForWindow(first, true, 20000), two = waitForWindow(second, true, 20000);
    for (HWND dialog : {one, two}) {
        if (!check(dialog != nullptr && waitForRefresh(dialog, 15000), "a view opens, two at once, and shows the CPU load"))
            return 1;
        check(waitForLine(dialog, " MulticastRX= <beaconCfgAlarm>", 10000, &seen),
              "the view shows the configuration that reached the service before it opened", seen);
        check(!itemText(dialog, 1005).empty(), "the view shows the configured trigger");
    }
    PostMessageW(one, WM_COMMAND, MAKEWPARAM(kExitId, BN_CLICKED), 0);
    check(first.waitExit(10000) == 0, "Exit closes the first view with exit code 0", first.state());
    check(startsWith(askStatus(), "<status><ipAddr>"), "the service answers status requests after the view closed");
    check(run(L"net.exe stop BrindlemoorWatchDog") == 0, "net stop BrindlemoorWatchDog succeeds");
    check(waitForLine(two, " View= no answer from the agent at 127.0.0.1:45654", 15000, &seen),
          "the view left open says that the service no longer answers", seen);
    PostMessageW(two, WM_COMMAND, MAKEWPARAM(kExitId, BN_CLICKED), 0);
    check(second.waitExit(10000) == 0, "Exit closes the second view with exit code 0", second.state());
    WSACleanup();
    std::printf("service-views: %d passed, %d failed\n", gPassed, gFailed);
    return gFailed == 0 ? 0 : 1;
}
