// The PDH counter, read for real, through the sampler and on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>
#include <pdh.h>
#include <pdhmsg.h>

#include "fakes/hidden_system_function.h"
#include "fakes/recording_debug_output.h"
#include "hostinfo/cpu_counter.h"
#include "hostinfo/cpu_usage.h"

namespace {

// The names this program imports from pdh.dll, read from its own import
// table (the names stay in the original thunks after loading).
std::vector<std::string> pdhImports()
{
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> names;
    if (directory.VirtualAddress == 0)
        return names;
    for (const auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         library->Name != 0; ++library) {
        if (_stricmp(reinterpret_cast<const char*>(base + library->Name), "pdh.dll") != 0)
            continue;
        DWORD thunks = library->OriginalFirstThunk != 0 ? library->OriginalFirstThunk : library->FirstThunk;
        for (const auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + thunks); thunk->u1.AddressOfData != 0;
             ++thunk) {
            if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal))
                continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
            names.emplace_back(reinterpret_cast<const char*>(byName->Name));
        }
    }
    return names;
}

// The names of the counter's object and counter by index number, as an
// English Windows gives them (Wine knows no name for 238); records the
// indexes asked for.
std::vector<DWORD> gNamesAsked;

PDH_STATUS WINAPI englishName(LPCWSTR, DWORD index, LPWSTR buffer, LPDWORD size)
{
    gNamesAsked.push_back(index);
    const wchar_t* name = index == 238 ? L"Processor" : index == 6 ? L"% Processor Time" : nullptr;
    if (name == nullptr)
        return PDH_INVALID_ARGUMENT;
    if (*size <= wcslen(name))
        return PDH_MORE_DATA;
    wcscpy(buffer, name);
    return ERROR_SUCCESS;
}

const bool gStoodIn =
    (hiddenfn::standIn("pdh!PdhLookupPerfNameByIndexW", reinterpret_cast<sysfn::AnyFunction>(&englishName)), true);

// The counter path is localized on a Windows in another language, where
// "\\Processor(_Total)\\% Processor Time" finds nothing and every sample
// would read 0. PdhAddEnglishCounterW (Vista and later) is looked up at run
// time, as XP lacks it; before Vista the path is built from the names'
// index numbers (test_cpu_counter_win_before_vista runs this program so).
TEST(CpuCounterWin, LooksTheEnglishPathUpAtRunTime)
{
    std::vector<std::string> names = pdhImports();
    std::string all;
    for (const std::string& name : names)
        all += name + " ";
    auto has = [&names](const char* name) { return std::find(names.begin(), names.end(), name) != names.end(); };
    EXPECT_FALSE(has("PdhAddEnglishCounterW")) << "imports from pdh.dll: " << all;
    EXPECT_TRUE(has("PdhAddCounterW")) << "imports from pdh.dll: " << all;
}

TEST(CpuCounterWin, SamplesTheProcessorTimeCounter)
{
    recording::takeDiagnostics();
    int first = CpuUsage::getCpuTotalUsage();
    EXPECT_EQ(recording::takeDiagnostics(), "");
    EXPECT_EQ(first, 0);

    for (int round = 0; round < 3; ++round) {
        Sleep(200);
        int usage = CpuUsage::getCpuTotalUsage();
        std::string printed = recording::takeDiagnostics();
        EXPECT_GE(usage, 0);
        EXPECT_LE(usage, 100);
        char expected[64];
        std::snprintf(expected, sizeof expected, "\n\nCPU Total usage: %3d%%\n", usage);
        EXPECT_EQ(printed, expected);
    }

    // The layer on its own: another collection gives another readable value.
    Sleep(100);
    double value = -1.0;
    ASSERT_EQ(cpucounter::collect(), 0u);
    ASSERT_EQ(cpucounter::formattedValue(value), 0u);
    EXPECT_GE(value, 0.0);
    EXPECT_LE(value, 100.0);
    // The counter was added once, by whichever path this Windows has:
    // before Vista by the names of indexes 238 and 6.
    EXPECT_TRUE(gStoodIn);
    EXPECT_EQ(hiddenfn::asked("pdh!PdhAddEnglishCounterW"), 1);
    std::vector<DWORD> expectedNames;
    if (hiddenfn::hidden("pdh!PdhAddEnglishCounterW"))
        expectedNames = {238, 6};
    EXPECT_EQ(gNamesAsked, expectedNames);
}

}  // namespace
