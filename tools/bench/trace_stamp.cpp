// zq-tracestamp: reads a program's trace on standard input as it arrives and
// writes the arrival time of each line equal to --match (and of the first
// byte of all) to --out:
//
//   start MONOTONIC_NS REALTIME_NS      when the first byte arrived
//   line  MONOTONIC_NS REALTIME_NS N    the N-th matching line
//   end   MONOTONIC_NS REALTIME_NS LINES BYTES
//
// Every other line is discarded at once: the program being traced must never
// wait for this reader. A line is stamped with the time of the read() that
// completed it. Ends at end of input or after --seconds.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::int64_t clockNs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string match;
    std::string outPath;
    double seconds = 600.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        if (name == "--match")
            match = argv[i + 1];
        else if (name == "--out")
            outPath = argv[i + 1];
        else if (name == "--seconds")
            seconds = std::strtod(argv[i + 1], nullptr);
    }
    if (argc % 2 != 1 || match.empty() || outPath.empty() || !(seconds > 0)) {
        std::fprintf(stderr, "usage: zq-tracestamp --match LINE --out FILE [--seconds S]\n");
        return 2;
    }
    std::FILE* out = std::fopen(outPath.c_str(), "w");
    if (out == nullptr) {
        std::perror("zq-tracestamp: --out");
        return 2;
    }
    // A larger pipe gives the traced program more room when this reader is
    // not scheduled for a moment (not every system allows it; no matter).
    (void)::fcntl(STDIN_FILENO, F_SETPIPE_SZ, 1 << 20);

    const std::int64_t deadline = clockNs(CLOCK_MONOTONIC) + static_cast<std::int64_t>(seconds * 1e9);
    std::vector<char> buffer(1 << 20);
    std::string partial;  // the start of a line that the last read did not finish
    unsigned long lines = 0;
    unsigned long matched = 0;
    unsigned long long bytes = 0;
    bool started = false;
    for (;;) {
        std::int64_t left = deadline - clockNs(CLOCK_MONOTONIC);
        if (left <= 0)
            break;
        pollfd in{STDIN_FILENO, POLLIN, 0};
        int ready = ::poll(&in, 1, static_cast<int>(std::min<std::int64_t>(left / 1000000 + 1, 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        std::int64_t mono = clockNs(CLOCK_MONOTONIC);
        std::int64_t real = clockNs(CLOCK_REALTIME);
        if (!started) {
            std::fprintf(out, "start %lld %lld\n", static_cast<long long>(mono), static_cast<long long>(real));
            std::fflush(out);
            started = true;
        }
        bytes += static_cast<unsigned long long>(n);
        const char* p = buffer.data();
        const char* end = p + n;
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (nl == nullptr) {
                if (partial.size() < match.size() + 1)
                    partial.append(p, std::min<std::size_t>(static_cast<std::size_t>(end - p), match.size() + 1));
                break;
            }
            ++lines;
            std::size_t length = static_cast<std::size_t>(nl - p);
            bool equal;
            if (partial.empty()) {
                equal = length == match.size() && std::memcmp(p, match.data(), length) == 0;
            } else {
                if (partial.size() < match.size() + 1)
                    partial.append(p, std::min(length, match.size() + 1));
                equal = partial == match;
                partial.clear();
            }
            if (equal) {
                ++matched;
                std::fprintf(out, "line %lld %lld %lu\n", static_cast<long long>(mono),
                             static_cast<long long>(real), matched);
                std::fflush(out);
            }
            p = nl + 1;
        }
    }
    std::fprintf(out, "end %lld %lld %lu %llu\n", static_cast<long long>(clockNs(CLOCK_MONOTONIC)),
                 static_cast<long long>(clockNs(CLOCK_REALTIME)), lines, bytes);
    std::fclose(out);
    return 0;
}
