// The 64-bit tick count on Windows: GetTickCount64 where the system has it
// (Vista and later), else GetTickCount carried past its wrap.
//
// The thread library that the program links statically (winpthreads) is
// built for Vista and calls GetTickCount64 through its import slot, which
// XP's kernel32 cannot fill. This file defines that slot itself, pointing
// at the function below; the linker takes it from here before it looks in
// kernel32's import library, and the program imports GetTickCount64 from
// nowhere.
#include "service/tick_count.h"

#include <windows.h>

#include "hostinfo/system_function.h"

namespace {

using TickCount64Function = ULONGLONG(WINAPI*)();

zq::TickExtender gExtender;

ULONGLONG WINAPI extendedTickCount()
{
    return gExtender.extend(GetTickCount());
}

// Looked up once; no lock, as the lock's own waits may come back here.
std::atomic<TickCount64Function> gTickCount64{nullptr};

ULONGLONG WINAPI tickCount64Slot()
{
    TickCount64Function function = gTickCount64.load();
    if (function == nullptr) {
        function = sysfn::find<TickCount64Function>("kernel32", "GetTickCount64");
        if (function == nullptr)
            function = &extendedTickCount;
        gTickCount64.store(function);
    }
    return function();
}

}  // namespace

#if defined(__i386__)
extern "C" ULONGLONG(WINAPI* const zqTickCount64Import)() __asm__("__imp__GetTickCount64@0");
extern "C" ULONGLONG(WINAPI* const zqTickCount64Import)() = &tickCount64Slot;
#else
extern "C" ULONGLONG(WINAPI* const zqTickCount64Import)() __asm__("__imp_GetTickCount64");
extern "C" ULONGLONG(WINAPI* const zqTickCount64Import)() = &tickCount64Slot;
#endif

namespace zq {

std::uint64_t tickCount64() noexcept
{
    return zqTickCount64Import();
}

}  // namespace zq
