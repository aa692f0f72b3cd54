// zq-wakefloor: the floor of the bench's idle figure. It wakes as the idle
// agent does and does nothing else: a worker thread waits in epoll for a
// 1-second timer (the agent's tick) and the main thread waits in poll for a
// 500-millisecond timer (the refresh of the agent's view). Its processor time
// is what that schedule costs on the machine by itself. It ends by itself
// after --seconds.
#include <poll.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// A periodic timer descriptor, or -1.
int periodicTimer(long milliseconds)
{
    int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (fd < 0)
        return -1;
    itimerspec schedule{};
    schedule.it_value.tv_sec = milliseconds / 1000;
    schedule.it_value.tv_nsec = (milliseconds % 1000) * 1000000L;
    schedule.it_interval = schedule.it_value;
    if (timerfd_settime(fd, 0, &schedule, nullptr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
    }
    if (argc != 3 || !(seconds > 0 && seconds <= 3600)) {
        std::fprintf(stderr, "usage: zq-wakefloor --seconds S (at most 3600)\n");
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));

    int tick = periodicTimer(1000);
    int refresh = periodicTimer(500);
    int poller = epoll_create1(EPOLL_CLOEXEC);
    epoll_event watched{};
    watched.events = EPOLLIN;
    if (tick < 0 || refresh < 0 || poller < 0 || epoll_ctl(poller, EPOLL_CTL_ADD, tick, &watched) != 0) {
        std::perror("zq-wakefloor");
        return 1;
    }

    std::atomic<long> ticks{0};
    std::thread worker([&] {
        while (Clock::now() < deadline) {
            epoll_event ready[4];
            if (epoll_wait(poller, ready, 4, 1100) > 0) {
                std::uint64_t expiries;
                if (read(tick, &expiries, sizeof expiries) == sizeof expiries)
                    ++ticks;
            }
        }
    });
    long refreshes = 0;
    while (Clock::now() < deadline) {
        pollfd wait{refresh, POLLIN, 0};
        if (poll(&wait, 1, 600) > 0) {
            std::uint64_t expiries;
            if (read(refresh, &expiries, sizeof expiries) == sizeof expiries)
                ++refreshes;
        }
    }
    worker.join();
    std::printf("ticks=%ld refreshes=%ld\n", ticks.load(), refreshes);
    return 0;
}
