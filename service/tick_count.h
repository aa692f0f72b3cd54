// Milliseconds since the system started, in 64 bits, which never wrap.
//
// Windows before Vista has only GetTickCount, 32 bits that wrap every 49.7
// days; TickExtender carries its readings on past the wrap. tickCount64()
// (tick_count_win.cpp) takes GetTickCount64 where the system has it and
// the extended GetTickCount elsewhere.
#pragma once

#include <atomic>
#include <cstdint>

namespace zq {

class TickExtender {
public:
    // The 64-bit count for a reading of the 32-bit one. Callable from any
    // thread; readings must come at least once every 24 days (a reading
    // that is behind the latest one, from a thread that read the counter a
    // little earlier, counts as behind, not as a wrap).
    std::uint64_t extend(std::uint32_t reading) noexcept;

private:
    static constexpr std::uint64_t kUnset = ~std::uint64_t{0};
    // The latest count; its low 32 bits are the latest reading.
    std::atomic<std::uint64_t> latest_{kUnset};
};

#ifdef _WIN32
std::uint64_t tickCount64() noexcept;
#endif

}  // namespace zq
