// The total-processor-time counter on Windows: a real-time PDH query holding
// the "% Processor Time" counter of all processors. The handles live as long
// as the process; only the sampler's one thread uses them.
#include "hostinfo/cpu_counter.h"

#include <string>

#include <windows.h>
#include <pdh.h>

#include "hostinfo/system_function.h"

namespace {

PDH_HQUERY gQuery = nullptr;
PDH_HCOUNTER gCounter = nullptr;

cpucounter::Status statusOf(PDH_STATUS status)
{
    return static_cast<cpucounter::Status>(status);
}

using AddEnglishCounterFunction = PDH_STATUS(WINAPI*)(PDH_HQUERY, LPCWSTR, DWORD_PTR, PDH_HCOUNTER*);
using LookupNameFunction = PDH_STATUS(WINAPI*)(LPCWSTR, DWORD, LPWSTR, LPDWORD);

const wchar_t kEnglishPath[] = L"\\Processor(_Total)\\% Processor Time";

// The name of a performance object or counter in the system's language, by
// its index number, which is the same in every language; "" when there is
// none. PdhLookupPerfNameByIndexW is in every Windows the agent runs on; it
// is looked up like the newer functions so that a test can stand in for it
// (Wine has no name for index 238).
std::wstring perfName(DWORD index)
{
    auto lookup = sysfn::find<LookupNameFunction>("pdh", "PdhLookupPerfNameByIndexW");
    WCHAR name[PDH_MAX_COUNTER_NAME];
    DWORD size = PDH_MAX_COUNTER_NAME;
    if (lookup == nullptr || lookup(nullptr, index, name, &size) != ERROR_SUCCESS)
        return std::wstring();
    return name;
}

}  // namespace

namespace cpucounter {

Status openQuery()
{
    return statusOf(PdhOpenQueryW(nullptr, 0, &gQuery));
}

// The counter's path is in the system's language: "\\Processor(_Total)\\%
// Processor Time" finds nothing on a German or French Windows, and every
// sample would read 0. Vista and later take the English path; before Vista
// the path is built from the names' index numbers ("Processor" 238, "%
// Processor Time" 6).
void addTotalProcessorCounter()
{
    auto addEnglish = sysfn::find<AddEnglishCounterFunction>("pdh", "PdhAddEnglishCounterW");
    if (addEnglish != nullptr) {
        addEnglish(gQuery, kEnglishPath, 0, &gCounter);
        return;
    }
    std::wstring object = perfName(238);
    std::wstring counter = perfName(6);
    // Without the names, the English path: right on an English system.
    std::wstring path = object.empty() || counter.empty() ? std::wstring(kEnglishPath)
                                                          : L"\\" + object + L"(_Total)\\" + counter;
    PdhAddCounterW(gQuery, path.c_str(), 0, &gCounter);
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
