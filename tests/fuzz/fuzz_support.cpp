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

namespace {

int gCapture = -1;
int gOriginalOut = -1;
int gOriginalErr = -1;

}  // namespace

int captureOutput()
{
    std::fflush(stdout);
    std::fflush(stderr);
    if (gCapture < 0) {
        gCapture = ::memfd_create("fuzz-output", 0);
        gOriginalOut = ::dup(STDOUT_FILENO);
        gOriginalErr = ::dup(STDERR_FILENO);
        if (gCapture < 0 || gOriginalOut < 0 || gOriginalErr < 0) {
            std::fprintf(stderr, "fuzz: cannot capture the output: %s\n", std::strerror(errno));
            std::exit(1);
        }
    }
    if (::dup2(gCapture, STDOUT_FILENO) < 0 || ::dup2(gCapture, STDERR_FILENO) < 0) {
        releaseOutput();
        std::fprintf(stderr, "fuzz: cannot capture the output: %s\n", std::strerror(errno));
        std::exit(1);
    }
    return gCapture;
}

void releaseOutput()
{
    if (gCapture < 0)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(gOriginalOut, STDOUT_FILENO);
    ::dup2(gOriginalErr, STDERR_FILENO);
}

std::string takeOutput(int fd)
{
    std::fflush(stdout);
    std::fflush(stderr);
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
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
        fail("the captured output can be emptied", std::strerror(errno));
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
    releaseOutput();
    std::fprintf(stderr, "fuzz: expectation broken: %s\n", what);
    if (!detail.empty())
        std::fprintf(stderr, "fuzz:   %s\n", detail.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzz
