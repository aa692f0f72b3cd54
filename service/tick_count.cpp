#include "service/tick_count.h"

namespace zq {

std::uint64_t TickExtender::extend(std::uint32_t reading) noexcept
{
    std::uint64_t latest = latest_.load();
    for (;;) {
        if (latest == kUnset) {
            if (latest_.compare_exchange_weak(latest, reading))
                return reading;
            continue;
        }
        // Unsigned arithmetic: a step across the wrap is a small step forward.
        std::uint32_t ahead = reading - static_cast<std::uint32_t>(latest);
        if (ahead >= 0x80000000u)
            return latest - static_cast<std::uint32_t>(0u - ahead);
        if (latest_.compare_exchange_weak(latest, latest + ahead))
            return latest + ahead;
    }
}

}  // namespace zq
