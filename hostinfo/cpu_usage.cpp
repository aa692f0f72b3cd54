// The total-processor-load sampler: opens the counter on its first call and
// from then on reads the load between each collection and the one before it.
#include "hostinfo/cpu_usage.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "hostinfo/cpu_counter.h"
#include "trace/trace.h"

namespace {

// One error line, "<call> ***Error: 0x<status>\n", to standard error beside
// the trace (diagnosticOutput), never to standard output.
void errorLine(const char* call, cpucounter::Status status)
{
    char line[128];
    std::snprintf(line, sizeof line, "%s ***Error: 0x%X\n", call, static_cast<unsigned>(status));
    diagnosticOutput(line);
}

// Process-wide and never reset: the counter, once open, stays open until the
// process ends. Only the worker thread samples, so no lock guards these.
bool gFirstCall = true;
cpucounter::Status gLastStatus = 0;
double gCounterValue = 0.0;

// Truncates toward zero and keeps the low eight bits as a signed value, so a
// result always lies in -128..127 (300.7 gives 44, -1.5 gives -1). The wrap
// is done arithmetically so that no value, however large, overflows a
// conversion; a value that is not a number gives 0.
int truncateToSigned8(double value)
{
    if (std::isnan(value))
        return 0;
    double truncated = std::trunc(value);
    if (std::isinf(truncated))
        return 0;
    // fmod keeps the sign of the dividend and is exact, so the remainder lies
    // strictly between -256 and 256 and converts without loss.
    long long remainder = static_cast<long long>(std::fmod(truncated, 256.0));
    long long low = remainder & 0xFF;
    return static_cast<int>(low >= 128 ? low - 256 : low);
}

}  // namespace

CpuUsage::CpuUsage()
{
    trace("==>  CpuUsage::CpuUsage\n");
    trace("<==  CpuUsage::CpuUsage\n");
}

CpuUsage::~CpuUsage()
{
    trace("<> CpuUsage::~CpuUsage\n");
}

int CpuUsage::getCpuTotalUsage()
{
    if (gFirstCall) {
        gLastStatus = cpucounter::openQuery();
        if (gLastStatus != 0) {
            errorLine("PdhOpenQuery()", gLastStatus);
            return 0;  // still not started: the next call opens again
        }
        cpucounter::addTotalProcessorCounter();
        gFirstCall = false;
        cpucounter::collect();  // the reference sample; its status does not matter
        return 0;
    }

    gLastStatus = cpucounter::collect();
    if (gLastStatus != 0) {
        errorLine("PhdCollectQueryData()", gLastStatus);
        if (gLastStatus == cpucounter::kInvalidHandle)
            diagnosticOutput("PDH_INVALID_HANDLE\n");
        else if (gLastStatus == cpucounter::kNoData)
            diagnosticOutput("PDH_NO_DATA\n");
        else
            diagnosticOutput("Unknown error\n");
        return 0;
    }

    double value = 0.0;
    gLastStatus = cpucounter::formattedValue(value);
    if (gLastStatus != 0) {
        errorLine("PdhGetFormattedCounterValue()", gLastStatus);
        return 0;
    }
    gCounterValue = value;

    int usage = truncateToSigned8(gCounterValue);
    if (debugOutputOn()) {
        char line[64];
        std::snprintf(line, sizeof line, "\n\nCPU Total usage: %3d%%\n", usage);
        diagnosticOutput(line);
    }
    return usage;
}
