// The PDH counter, read for real, through the sampler and on its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <windows.h>

#include "hostinfo/cpu_counter.h"
#include "hostinfo/cpu_usage.h"

namespace {

TEST(CpuCounterWin, SamplesTheProcessorTimeCounter)
{
    testing::internal::CaptureStdout();
    int first = CpuUsage::getCpuTotalUsage();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(first, 0);

    for (int round = 0; round < 3; ++round) {
        Sleep(200);
        testing::internal::CaptureStdout();
        int usage = CpuUsage::getCpuTotalUsage();
        std::string printed = testing::internal::GetCapturedStdout();
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
}

}  // namespace
