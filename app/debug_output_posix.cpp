// Debugger output on Linux: standard error, one write() call per text, so that
// texts from the two threads never interleave within a line.
#include "app/trace.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

void debugOutput(const char* text)
{
    std::size_t length = std::strlen(text);
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
