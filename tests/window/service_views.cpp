// Views of the installed service under Wine, for tests/package/msi_install.sh:
// with the service running and a configuration sent to the Orvane group
// beforehand, two copies of the installed program are views that both show
// it; Exit closes a view while the service answers on; and a view that stays
// open says so when `net stop` ends the service.
//
//   service_views INSTALLED-WATCHDOG.EXE
//
// Prints PASS/FAIL lines and a tally; exit code 0 when all passed.
#include "window/agent_window.h"

using namespace agentwindow;

namespace {

constexpr int kTriggerId = 1005;

// Waits up to milliseconds for a list line that holds every one of needles.
bool waitForLine(HWND dialog, const std::vector<std::string>& needles, DWORD milliseconds, std::string* seen)
{
    DWORD start = GetTickCount();
    do {
        std::vector<std::string> lines = listLines(GetDlgItem(dialog, kListId));
        seen->clear();
        for (const std::string& line : lines) {
            *seen += quoted(line) + " ";
            bool all = true;
            for (const std::string& needle : needles)
                all = all && line.find(needle) != std::string::npos;
            if (all)
                return true;
        }
        Sleep(200);
    } while (GetTickCount() - start < milliseconds);
    return false;
}

// A view whose window is up and filled by the running service.
HWND openView(const Agent& view, const std::string& name)
{
    HWND dialog = waitForWindow(view, true, 20000);
    check(dialog != nullptr && waitForRefresh(dialog, 15000), name + " opens and shows the service's CPU load",
          view.state());
    return dialog;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: service_views INSTALLED-WATCHDOG.EXE\n");
        return 2;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 2;
    std::wstring exe = widen(argv[1]);
    std::string seen;

    Agent first(exe, true);
    HWND one = openView(first, "a view");
    Agent second(exe, true);
    HWND two = openView(second, "a second view, at the same time");
    if (one == nullptr || two == nullptr) {
        std::printf("service-views: %d passed, %d failed\n", gPassed, gFailed);
        return 1;
    }
    for (HWND dialog : {one, two}) {
        check(waitForLine(dialog, {" MulticastRX= ", "beaconCfgAlarm"}, 10000, &seen),
              "the view shows the configuration that reached the service before it opened", seen);
        check(!itemText(dialog, kTriggerId).empty(), "the view shows the configured trigger",
              quoted(itemText(dialog, kTriggerId)));
    }

    // Exit closes the view only.
    PostMessageW(one, WM_COMMAND, MAKEWPARAM(kExitId, BN_CLICKED), 0);
    check(first.waitExit(10000) == 0, "Exit closes the first view with exit code 0", first.state());
    check(startsWith(askStatus(), "<status><ipAddr>"), "the service answers status requests after the view closed");
    check(second.running() && !itemText(two, kCpuId).empty(), "the second view stays open", second.state());

    // The service stops; the open view says so and stays.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring command = L"net.exe stop BrindlemoorWatchDog";
    bool stopped = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process) != 0;
    DWORD code = 1;
    if (stopped) {
        WaitForSingleObject(process.hProcess, 30000);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    check(stopped && code == 0, "net stop BrindlemoorWatchDog succeeds", "exit code " + std::to_string(code));
    check(waitForLine(two, {" View= no answer from the agent at 127.0.0.1:45654"}, 15000, &seen),
          "the open view says that the service no longer answers", seen);
    check(second.running(), "the view stays open without the service", second.state());
    PostMessageW(two, WM_COMMAND, MAKEWPARAM(kExitId, BN_CLICKED), 0);
    check(second.waitExit(10000) == 0, "Exit closes the second view with exit code 0", second.state());

    WSACleanup();
    std::printf("service-views: %d passed, %d failed\n", gPassed, gFailed);
    return gFailed == 0 ? 0 : 1;
}
