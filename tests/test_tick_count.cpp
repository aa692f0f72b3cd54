// The 32-bit tick count carried on past its wrap (Windows before Vista).
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "service/tick_count.h"

TEST(TickExtender, CarriesTheCountAcrossEachWrap)
{
    using Steps = std::vector<std::pair<std::uint32_t, std::uint64_t>>;  // reading, count
    const Steps cases[] = {
        // Two wraps, 49.7 days apart (read at least every 24 days).
        {{0xFFFFFF00u, 0xFFFFFF00ull}, {0x5u, 0x100000005ull}, {0x7FFFFFFFu, 0x17FFFFFFFull},
         {0xFFFFFFFEu, 0x1FFFFFFFEull}, {0x3u, 0x200000003ull}},
        // A thread that read the counter just before the wrap asks after
        // another has seen it: behind, not a wrap.
        {{0xFFFFFFF0u, 0xFFFFFFF0ull}, {0x10u, 0x100000010ull}, {0xFFFFFFF8u, 0xFFFFFFF8ull}, {0x20u, 0x100000020ull}},
        // A system up for 30 days when the agent starts.
        {{0x9A7EC800u, 0x9A7EC800ull}, {0x1u, 0x100000001ull}},
    };
    for (const Steps& steps : cases) {
        zq::TickExtender extender;
        for (const auto& step : steps)
            EXPECT_EQ(extender.extend(step.first), step.second) << "reading " << std::hex << step.first;
    }
}

TEST(TickExtender, ThreadsReadingAcrossTheWrapAgree)
{
    zq::TickExtender extender;
    extender.extend(0xFFFFF000u);
    std::vector<std::thread> threads;
    std::vector<std::uint64_t> last(4);
    for (std::uint64_t& result : last) {
        threads.emplace_back([&extender, &result] {
            for (std::uint32_t i = 0; i < 0x2000u; ++i)
                result = extender.extend(0xFFFFF000u + i);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (std::uint64_t value : last)
        EXPECT_EQ(value, 0x100000FFFull);
}
