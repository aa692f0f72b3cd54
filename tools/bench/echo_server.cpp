// zq-echo: the floor of the bench. A minimal UDP echo server: one blocking
// recvfrom/sendto loop on one socket, which sends every datagram back to its
// sender unchanged. It ends by itself after --seconds, and prints how many
// datagrams it echoed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int)
{
    gStop = 1;
}

double monotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string address = "127.0.0.1";
    unsigned port = 0;
    double seconds = 60.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        if (name == "--bind")
            address = argv[i + 1];
        else if (name == "--port")
            port = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        else if (name == "--seconds")
            seconds = std::strtod(argv[i + 1], nullptr);
        else
            port = 0;
    }
    if (argc % 2 != 1 || port == 0 || port > 65535 || !(seconds > 0) || seconds > 86400) {
        std::fprintf(stderr, "usage: zq-echo --port N [--bind 127.0.0.1] [--seconds S]\n");
        return 2;
    }

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
        (ntohl(local.sin_addr.s_addr) >> 24) != 127) {
        std::fprintf(stderr, "zq-echo: a loopback address only\n");
        return 2;
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("zq-echo: bind");
        return 1;
    }
    // The receive wakes up now and then, so that the time limit holds.
    timeval wake{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wake, sizeof wake);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    const double deadline = monotonicSeconds() + seconds;
    unsigned long echoed = 0;
    char buffer[65536];
    while (!gStop) {
        sockaddr_in peer{};
        socklen_t peerSize = sizeof peer;
        ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &peerSize);
        if (n >= 0) {
            if (::sendto(fd, buffer, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&peer),
                         peerSize) >= 0)
                ++echoed;
            // Checking the clock after every datagram would cost the floor a
            // system call; every 4096th is often enough.
            if ((echoed & 4095) != 0)
                continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            std::perror("zq-echo: recvfrom");
            break;
        }
        if (monotonicSeconds() >= deadline)
            break;
    }
    ::close(fd);
    std::printf("zq-echo: echoed %lu datagrams\n", echoed);
    return 0;
}
