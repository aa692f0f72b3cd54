// Whether the trace and the diagnostics go to standard error on Linux
// (trace/trace.h): a pure decision over the environment that the Linux debug
// output reads once at start.
#include "trace/trace.h"

#include <cstdlib>
#include <cstring>

bool traceWanted(const char* journalStream, bool hasStandardError, unsigned long long device,
                 unsigned long long inode, bool terminal, const char* traceSetting)
{
    if (traceSetting != nullptr && std::strcmp(traceSetting, "1") == 0)
        return true;
    if (traceSetting != nullptr && std::strcmp(traceSetting, "0") == 0)
        return false;
    if (hasStandardError && terminal)
        return false;
    if (journalStream == nullptr || !hasStandardError)
        return true;
    // "DEVICE:INODE", both decimal: standard error is the journal only when
    // it is that very stream (not a file or pipe that a wrapper put there).
    char* end = nullptr;
    unsigned long long streamDevice = std::strtoull(journalStream, &end, 10);
    if (end == journalStream || *end != ':')
        return true;
    const char* inodeText = end + 1;
    unsigned long long streamInode = std::strtoull(inodeText, &end, 10);
    if (end == inodeText || *end != '\0')
        return true;
    return streamDevice != device || streamInode != inode;
}
