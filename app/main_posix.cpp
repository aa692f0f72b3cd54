// The agent's entry on Linux: the main dialog runs on the console (see
// app/dialog_manager_console.cpp), which stops the service on Enter at a
// terminal, Ctrl-C, SIGTERM or SIGHUP. Exit code 0 after a stop, 1 when the
// service could not start.
#include <csignal>
#include <pthread.h>

#include "app/main_dialog.h"
#include "app/stop_signals.h"

int main()
{
    // The stop signals are taken by the console dialog in its own thread. The
    // mask is set before the service's worker thread starts, so the worker
    // inherits it and no other thread ever takes them.
    sigset_t stopSignals = console::stopSignalMask();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // The console is only a view: a reader of standard output that goes away
    // must not end the service, so a broken pipe is a failed write instead.
    std::signal(SIGPIPE, SIG_IGN);

    return runWatchDog("main");
}
