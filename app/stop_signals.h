// The signals that stop the agent on Linux: Ctrl-C, the service manager's
// stop and a hang-up of the terminal. The entry blocks them for every thread
// before any starts (app/main_posix.cpp); the console dialog takes them, and
// only in its own thread (app/dialog_manager_console.cpp).
#pragma once

#include <csignal>

namespace console {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The stop signals as a signal mask.
inline sigset_t stopSignalMask()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : kStopSignals)
        sigaddset(&signals, signal);
    return signals;
}

}  // namespace console
