// The operating-system description on Windows: reads the version record, the
// native processor architecture, the product type and the R2 flag, and hands
// them to the decision tables.
#include "hostinfo/os_description.h"

#include <windows.h>

namespace {

using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

// The extended version record that GetVersionExW fills.
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "unexpected version record size");

// Looks a function up by name in kernel32.dll; null where this Windows lacks it.
template <typename Fn>
Fn kernel32Function(const char* name)
{
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr)
        return nullptr;
    FARPROC proc = GetProcAddress(kernel32, name);
    // Through the generic function pointer type, which converts to any other.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

std::string buildOsDescription()
{
    OSVERSIONINFOEXW info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    // GetVersionExW is deprecated, but it is the call that gives the suite
    // mask and product type along with the version.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    BOOL haveVersion = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!haveVersion)
        return "";

    SYSTEM_INFO system;
    ZeroMemory(&system, sizeof system);
    auto getNativeSystemInfo = kernel32Function<GetNativeSystemInfoFn>("GetNativeSystemInfo");
    if (getNativeSystemInfo != nullptr)
        getNativeSystemInfo(&system);
    else
        GetSystemInfo(&system);

    OsVersionRecord record;
    record.platformId = info.dwPlatformId;
    record.majorVersion = info.dwMajorVersion;
    record.minorVersion = info.dwMinorVersion;
    record.productType = info.wProductType;
    record.suiteMask = info.wSuiteMask;
    record.processorArchitecture = system.wProcessorArchitecture;

    if (info.dwMajorVersion == 6) {
        auto getProductInfo = kernel32Function<GetProductInfoFn>("GetProductInfo");
        if (getProductInfo != nullptr) {
            DWORD productCode = 0;
            getProductInfo(info.dwMajorVersion, info.dwMinorVersion, 0, 0, &productCode);
            record.productCode = productCode;
        }
    }
    if (info.dwMajorVersion == 5 && info.dwMinorVersion == 2)
        record.serverR2 = GetSystemMetrics(SM_SERVERR2);

    return describeWindowsVersion(record);
}
