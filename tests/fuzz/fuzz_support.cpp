#include "fuzz/fuzz_support.h"

#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/only_loopback.h"

namespace fuzz {

void isolateNetwork()
{
    if (::unshare(CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "fuzz: cannot create a private network namespace (run as root): %s\n",
                     std::strerror(errno));
        std::exit(1);
    }
    if (std::system("ip link set lo up && ip route add 224.0.0.0/4 dev lo") != 0) {
        std::fprintf(stderr, "fuzz: cannot set up loopback in the private network namespace\n");
        std::exit(1);
    }
    if (!onlyLoopback()) {
        std::fprintf(stderr, "fuzz: the private network namespace has more than loopback\n");
        std::exit(1);
    }
}

int captureStdout()
{
    std::fflush(stdout);
    int fd = ::memfd_create("fuzz-stdout", 0);
    if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "fuzz: cannot capture standard output: %s\n", std::strerror(errno));
        std::exit(1);
    }
    return fd;
}

std::string takeStdout(int fd)
{
    std::fflush(stdout);
    std::string written;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n <= 0)
            break;
        written.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
    if (::ftruncate(fd, 0) != 0 || std::fseek(stdout, 0, SEEK_SET) != 0)
        fail("standard output can be emptied", std::strerror(errno));
    return written;
}

std::string printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (out.size() > 400) {
            out += "...";
            break;
        }
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
    }
    return out;
}

void fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "fuzz: expectation broken: %s\n", what);
    if (!detail.empty())
        std::fprintf(stderr, "fuzz:   %s\n", detail.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzz
