// The total-processor-time counter on Linux, from the aggregate "cpu" line of
// /proc/stat: the kernel's running count of clock ticks that all processors
// together spent in each state. A collection takes a new sample; the value is
// the share of ticks that were not idle between the last two usable samples.
//
// Only the sampler's one thread calls these operations, so the state below is
// file-static and takes no lock.
#include "hostinfo/cpu_counter.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Status of an open when /proc/stat cannot be read (PDH_CSTATUS_NO_OBJECT:
// the processor object is not there).
constexpr cpucounter::Status kNoObject = 0xC0000BB8u;

const char* const kProcStat = "/proc/stat";

struct Sample {
    std::uint64_t total = 0;  // ticks in every state
    std::uint64_t idle = 0;   // ticks idle or waiting for I/O
};

bool gQueryOpen = false;
bool gCounterAdded = false;
bool gHaveReference = false;
Sample gReference;
bool gHaveValue = false;
double gValue = 0.0;

// The kernel counts processor time in ticks of 1/CLK_TCK s (10 ms), and
// composing /proc/stat (every processor's line and every interrupt's count)
// costs more than the rest of a status reply. A collection within one such
// tick of the last reading reads nothing: the counts could not have moved by
// more than a tick of each processor, and a share over so short a spell says
// nothing. The value stands, as it does for a reading with no tick between.
std::chrono::steady_clock::duration shortestSpell()
{
    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::seconds(1)) /
           (ticksPerSecond > 0 ? ticksPerSecond : 100);
}
std::chrono::steady_clock::time_point gLastReading;

// /proc/stat stays open once opened: a status reply takes a fresh sample, and
// opening the file for each one cost as much as the rest of the reply.
int gStatFile = -1;

// The first line of /proc/stat, zero-terminated, read from offset 0 so that
// the open file serves every sample. A read that fails closes the file and
// tries once more with a new open.
bool readFirstLine(char* buffer, std::size_t size)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (gStatFile < 0) {
            gStatFile = ::open(kProcStat, O_RDONLY | O_CLOEXEC);
            if (gStatFile < 0)
                return false;
        }
        ssize_t n;
        do {
            n = ::pread(gStatFile, buffer, size - 1, 0);
        } while (n < 0 && errno == EINTR);
        if (n > 0) {
            buffer[n] = '\0';
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\n') {
                    buffer[i] = '\0';
                    break;
                }
            }
            return true;
        }
        ::close(gStatFile);
        gStatFile = -1;
    }
    return false;
}

// Reads the aggregate line "cpu  user nice system idle iowait irq softirq
// steal guest guest_nice". Guest time is already counted in user and nice, so
// only the first eight fields make up the total; older kernels give fewer.
bool readSample(Sample& sample)
{
    // The aggregate line is at most "cpu" and ten 20-digit counts.
    char line[512];
    if (!readFirstLine(line, sizeof line))
        return false;
    if (line[0] != 'c' || line[1] != 'p' || line[2] != 'u' || (line[3] != ' ' && line[3] != '\t'))
        return false;
    std::uint64_t values[8] = {};
    int count = 0;
    const char* cursor = line + 3;
    while (count < 8) {
        while (*cursor == ' ' || *cursor == '\t')
            ++cursor;
        if (*cursor < '0' || *cursor > '9')
            break;
        char* end = nullptr;
        errno = 0;
        unsigned long long value = std::strtoull(cursor, &end, 10);
        if (errno == ERANGE)
            break;
        values[count++] = value;
        cursor = end;
    }
    if (count < 4)
        return false;
    sample.total = 0;
    for (int i = 0; i < count; ++i)
        sample.total += values[i];
    sample.idle = values[3] + values[4];
    return true;
}

}  // namespace

namespace cpucounter {

Status openQuery()
{
    Sample probe;
    if (!readSample(probe))
        return kNoObject;
    // A new query starts without samples, as a fresh PDH query would.
    gQueryOpen = true;
    gCounterAdded = false;
    gHaveReference = false;
    gHaveValue = false;
    gValue = 0.0;
    return 0;
}

void addTotalProcessorCounter()
{
    if (gQueryOpen)
        gCounterAdded = true;
}

Status collect()
{
    if (!gQueryOpen)
        return kInvalidHandle;
    auto readingTime = std::chrono::steady_clock::now();
    if (gHaveReference && readingTime - gLastReading < shortestSpell())
        return 0;
    Sample now;
    if (!readSample(now))
        return kNoData;
    gLastReading = readingTime;
    if (!gHaveReference) {
        gReference = now;
        gHaveReference = true;
        return 0;
    }
    // Signed deltas: the kernel's iowait count may step backwards.
    auto elapsed = static_cast<std::int64_t>(now.total - gReference.total);
    if (elapsed < 1) {
        // Less than one tick since the reference: the sample says nothing, so
        // the previous value stands and the reference is kept, and a quick
        // second sample does not read as an idle machine. A count that went
        // backwards (impossible but for a kernel quirk) restarts from here.
        if (now.total < gReference.total)
            gReference = now;
        return 0;
    }
    auto idle = static_cast<std::int64_t>(now.idle - gReference.idle);
    std::int64_t busy = elapsed - idle;
    if (busy < 0)
        busy = 0;
    if (busy > elapsed)
        busy = elapsed;
    gValue = 100.0 * static_cast<double>(busy) / static_cast<double>(elapsed);
    gHaveValue = true;
    gReference = now;
    return 0;
}

// Fails with kInvalidHandle when no counter was added to an open query, and
// with kNoData until two samples at least one tick apart have given a value.
Status formattedValue(double& value)
{
    if (!gQueryOpen || !gCounterAdded)
        return kInvalidHandle;
    if (!gHaveValue)
        return kNoData;
    value = gValue;
    return 0;
}

}  // namespace cpucounter
