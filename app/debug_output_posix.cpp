// Debugger output on Linux: standard error, one write() call per text, so that
// texts from the two threads never interleave within a line. Under the
// systemd unit (standard error is the journal) it is off unless the
// service's environment turns it on; see traceWanted().
#include "app/trace.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool decideOnce()
{
    struct stat status;
    bool hasStandardError = ::fstat(STDERR_FILENO, &status) == 0;
    return traceWanted(std::getenv("JOURNAL_STREAM"), hasStandardError,
                       hasStandardError ? static_cast<unsigned long long>(status.st_dev) : 0,
                       hasStandardError ? static_cast<unsigned long long>(status.st_ino) : 0,
                       hasStandardError && ::isatty(STDERR_FILENO) == 1, std::getenv("BRINDLEMOOR_WATCHDOG_TRACE"));
}

bool enabled()
{
    // Decided by the first text, before the worker thread starts; a local
    // static is initialised once even if two threads met here.
    static const bool on = decideOnce();
    return on;
}

void writeStandardError(const char* text, std::size_t length)
{
    while (length > 0) {
        ssize_t written = ::write(STDERR_FILENO, text, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;  // nowhere to write to: the trace never fails its caller
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

}  // namespace

void debugOutput(const char* text)
{
    if (enabled())
        writeStandardError(text, std::strlen(text));
}

void diagnosticOutput(const char* data, std::size_t length)
{
    if (enabled())
        writeStandardError(data, length);
}
