// The agent's entry on Linux: the main dialog runs on the console (see
// app/dialog_manager_console.cpp), which stops the service on Enter at a
// terminal, Ctrl-C, SIGTERM or SIGHUP. Exit code 0 after a stop, 1 when the
// service could not start.
#include <csignal>
#include <malloc.h>
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
    // Large blocks come from the system and go back to it when freed: the
    // event log's text between two drains of the view can grow to megabytes
    // under a flood of multicast texts, and that peak should not stay
    // resident once the view has taken it. (The C library would otherwise
    // raise this threshold after the first large block and keep the rest.)
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    // One pool of memory for the agent's few threads: with a pool per thread
    // (the C library's default), what one thread's burst touched stays with
    // that thread's pool, and a second flood of requests left 124 kB more
    // resident than the first. The threads allocate little and seldom, so
    // they do not wait for each other.
    mallopt(M_ARENA_MAX, 1);

    return runWatchDog("main");
}
