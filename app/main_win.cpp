// The agent's entry on Windows. Started by the Service Control Manager, the
// program is the service BrindlemoorWatchDog: the agent without a window.
// Where the service is installed, any other start is a view of the running
// agent; without the service it is the desktop program of old, which starts
// the agent, runs the main dialog until Exit, Cancel or the close box, and
// returns the program's exit code.
#include <windows.h>

#include "app/main_dialog.h"
#include "service/windows_service.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // Asked of the manager first: the dispatcher itself would keep a
    // program that the manager did not start waiting before it fails.
    switch (svc::howStarted()) {
    case svc::Start::ByManager:
        return svc::runDispatcher(svc::runService);
    case svc::Start::Installed:
        return runWatchDogView("WinMain");
    case svc::Start::NotInstalled:
        break;
    }
    return runWatchDog("WinMain");
}
