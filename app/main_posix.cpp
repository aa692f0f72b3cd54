// The agent's entry on Linux: starts the service, prints its state to standard
// output whenever it changes, and stops cleanly on Ctrl-C, SIGTERM or SIGHUP.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <string>

#include "app/trace.h"
#include "service/zq_srv.h"

namespace {

void printIfChanged(const char* label, const std::string& value, std::string& shown)
{
    if (value == shown)
        return;
    shown = value;
    std::printf("%s %s\n", label, value.c_str());
    std::fflush(stdout);
}

}  // namespace

int main()
{
    // The stop signals are taken synchronously by this thread; blocking them
    // before the worker thread starts keeps them away from it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        gSrv = new zq::ZqSrv();
    } catch (const std::exception& error) {
        trace("*** EXCEPTION  main\n");
        std::fprintf(stderr, "watchdog: cannot start the service (is another copy holding UDP port 45654?): %s\n",
                     error.what());
        return 1;
    }

    std::string cpu, osDesc, host, common, trigger, orvane, cloud;
    printIfChanged("OS Description:", zq::ZqSrv::getOsDesc(), osDesc);
    for (;;) {
        printIfChanged("Total CPU:", zq::ZqSrv::getCpuUsage(), cpu);
        printIfChanged("Host Name:", zq::ZqSrv::getHostName(), host);
        printIfChanged("Local IP In Common with Orvane IP:", zq::ZqSrv::getCommonLocalIps(), common);
        printIfChanged("Trigger:", zq::ZqSrv::getTriggerText(), trigger);
        printIfChanged("Orvane:", zq::ZqSrv::getOrvane(), orvane);
        printIfChanged("Cloud:", zq::ZqSrv::getCloud(), cloud);
        zq::ZqSrv::takeEventLog();

        timespec period{0, 500 * 1000 * 1000};
        if (sigtimedwait(&stopSignals, nullptr, &period) > 0)
            break;
    }
    delete gSrv;
    gSrv = nullptr;
    return 0;
}
