// The total-processor-time counter on Windows: a real-time PDH query holding
// the "% Processor Time" counter of all processors. The handles live as long
// as the process; only the sampler's one thread uses them.
#include "hostinfo/cpu_counter.h"

#include <windows.h>
#include <pdh.h>

namespace {

PDH_HQUERY gQuery = nullptr;
PDH_HCOUNTER gCounter = nullptr;

cpucounter::Status statusOf(PDH_STATUS status)
{
    return static_cast<cpucounter::Status>(status);
}

}  // namespace

namespace cpucounter {

Status openQuery()
{
    return statusOf(PdhOpenQueryW(nullptr, 0, &gQuery));
}

// By its English path, which PDH finds on a Windows of any language; the
// localized names differ (PdhAddCounterW would fail there, and every sample
// would read 0).
void addTotalProcessorCounter()
{
    PdhAddEnglishCounterW(gQuery, L"\\Processor(_Total)\\% Processor Time", 0, &gCounter);
}

Status collect()
{
    return statusOf(PdhCollectQueryData(gQuery));
}

Status formattedValue(double& value)
{
    PDH_FMT_COUNTERVALUE counterValue = {};
    PDH_STATUS status = PdhGetFormattedCounterValue(
        gCounter, PDH_FMT_DOUBLE | PDH_FMT_NOCAP100, nullptr, &counterValue);
    if (status == ERROR_SUCCESS)
        value = counterValue.doubleValue;
    return statusOf(status);
}

}  // namespace cpucounter
