// Debugger output on Linux: standard error, each text whole and in order,
// through the standard-error output queue (trace/output_queue.h), so that a
// reader that stops reading never holds up the thread that traces. Under the
// systemd unit (standard error is the journal) it is off unless the
// service's environment turns it on; see traceWanted().
//
// Trace texts carry received bytes (a datagram's text, a request's). On a
// terminal their control bytes are escaped as the console's lines escape
// them, so that nobody on the network can drive the operator's terminal; the
// trace's own line ends and tabs stay. A file, a pipe or the journal gets the
// bytes as they came, as the datagram echo does.
#include "trace/control_escape.h"
#include "trace/output_queue.h"
#include "trace/trace.h"

#include <cstdlib>
#include <cstring>
#include <string>
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

}  // namespace

bool debugOutputOn()
{
    // Decided by the first text, before the worker thread starts; a local
    // static is initialised once even if two threads met here.
    static const bool on = decideOnce();
    return on;
}

void debugOutput(const char* text)
{
    if (!debugOutputOn())
        return;
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    if (terminal) {
        std::string shown = console::escapeControls(text, console::Pass::LineFeedAndTab);
        output::standardError().write(shown.data(), shown.size());
    } else {
        output::standardError().write(text, std::strlen(text));
    }
}

TraceBatch::TraceBatch()
{
    OutputQueue::holdWakes();
}

TraceBatch::~TraceBatch()
{
    OutputQueue::wakeHeld();
}

void diagnosticOutput(const char* data, std::size_t length)
{
    if (debugOutputOn())
        output::standardError().write(data, length);
}
