// The 32-bit tick count carried on past its wrap (Windows before Vista).
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "service/tick_count.h"

namespace {

struct Step {
    std::uint32_t reading;
    std::uint64_t expected;
};

void expectSteps(const std::vector<Step>& steps)
{
    zq::TickExtender extender;
    for (const Step& step : steps)
        EXPECT_EQ(extender.extend(step.reading), step.expected) << "reading " << std::hex << step.reading;
}

}  // namespace

TEST(TickExtender, CarriesTheCountAcrossEachWrap)
{
    expectSteps({
        {0xFFFFFF00u, 0xFFFFFF00ull},
        {0xFFFFFFFFu, 0xFFFFFFFFull},
        {0x00000005u, 0x100000005ull},  // 49.7 days: the first wrap
        {0x7FFFFFFFu, 0x17FFFFFFFull},
        {0xFFFFFFFEu, 0x1FFFFFFFEull},
        {0x00000003u, 0x200000003ull},  // the second
    });
}

TEST(TickExtender, AReadingBehindTheLatestIsNoWrap)
{
    // Another thread read the counter just before the wrap and asks after
    // this one has seen it.
    expectSteps({
        {0xFFFFFFF0u, 0xFFFFFFF0ull},
        {0x00000010u, 0x100000010ull},
        {0xFFFFFFF8u, 0xFFFFFFF8ull},
        {0x00000020u, 0x100000020ull},
    });
}

TEST(TickExtender, StartsWhereverTheSystemIs)
{
    // A system up for 30 days when the agent starts.
    expectSteps({{0x9A7EC800u, 0x9A7EC800ull}, {0x9A7EC801u, 0x9A7EC801ull}, {0x1u, 0x100000001ull}});
}

TEST(TickExtender, ThreadsReadingAcrossTheWrapAgree)
{
    zq::TickExtender extender;
    extender.extend(0xFFFFF000u);
    std::vector<std::thread> threads;
    std::vector<std::uint64_t> last(4);
    for (unsigned t = 0; t < last.size(); ++t) {
        threads.emplace_back([&extender, &last, t] {
            for (std::uint32_t i = 0; i < 0x2000u; ++i)
                last[t] = extender.extend(0xFFFFF000u + i);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (std::uint64_t value : last)
        EXPECT_EQ(value, 0x100000FFFull);
    EXPECT_EQ(extender.extend(0x1000u), 0x100001000ull);
}
