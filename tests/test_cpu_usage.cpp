// The sampler against a scripted counter. Its state is process-wide and never
// goes back to "not started", so the whole life of the sampler is one ordered
// scenario, in a program of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_cpu_counter.h"
#include "fakes/recording_debug_output.h"
#include "hostinfo/cpu_usage.h"

namespace {

struct Sampled {
    int value;
    std::string printed;
};

Sampled sample()
{
    recording::takeDiagnostics();
    testing::internal::CaptureStdout();
    int value = CpuUsage::getCpuTotalUsage();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "standard output is the console view's";
    return {value, recording::takeDiagnostics()};
}

TEST(CpuUsage, TracesConstructionAndDestructionOnly)
{
    fakecpu::reset();
    recording::clearTrace();
    {
        CpuUsage sampler;
        EXPECT_EQ(recording::traceTexts(),
                  (std::vector<std::string>{"==>  CpuUsage::CpuUsage\n",
                                            "<==  CpuUsage::CpuUsage\n"}));
    }
    EXPECT_EQ(recording::traceJoined(),
              "==>  CpuUsage::CpuUsage\n<==  CpuUsage::CpuUsage\n<> CpuUsage::~CpuUsage\n");
    fakecpu::Calls calls = fakecpu::calls();
    EXPECT_EQ(calls.open + calls.add + calls.collect + calls.format, 0)
        << "the object's life must not touch the counter";
}

TEST(CpuUsage, WholeLifeOfTheSampler)
{
    fakecpu::reset();
    recording::clearTrace();

    // Not started: every failing open prints its line, returns 0 and leaves
    // the sampler to open again next time.
    fakecpu::pushOpen(0xC0000BB8u);
    fakecpu::pushOpen(0x800007D0u);
    Sampled s = sample();
    EXPECT_EQ(s.value, 0);
    EXPECT_EQ(s.printed, "PdhOpenQuery() ***Error: 0xC0000BB8\n");
    s = sample();
    EXPECT_EQ(s.value, 0);
    EXPECT_EQ(s.printed, "PdhOpenQuery() ***Error: 0x800007D0\n");
    fakecpu::Calls calls = fakecpu::calls();
    EXPECT_EQ(calls.open, 2);
    EXPECT_EQ(calls.add, 0);
    EXPECT_EQ(calls.collect, 0);
    EXPECT_EQ(calls.format, 0);

    // The open that succeeds adds the counter and takes the reference sample,
    // whose failure is not looked at; the call returns 0 and prints nothing.
    fakecpu::pushCollect(cpucounter::kNoData);
    fakecpu::pushValue(0, 88.0);  // must not be read by the first call
    s = sample();
    EXPECT_EQ(s.value, 0);
    EXPECT_EQ(s.printed, "");
    calls = fakecpu::calls();
    EXPECT_EQ(calls.open, 3);
    EXPECT_EQ(calls.add, 1);
    EXPECT_EQ(calls.collect, 1);
    EXPECT_EQ(calls.format, 0);

    // Started: the scripted 88 is the load since the reference.
    s = sample();
    EXPECT_EQ(s.value, 88);
    EXPECT_EQ(s.printed, "\n\nCPU Total usage:  88%\n");

    // Collection failures: the status in upper-case hexadecimal without
    // leading zeros, then its name; the value is not read.
    struct CollectCase {
        cpucounter::Status status;
        const char* printed;
    };
    const CollectCase collectCases[] = {
        {0x800007D5u, "PhdCollectQueryData() ***Error: 0x800007D5\nPDH_NO_DATA\n"},
        {0xC0000BBCu, "PhdCollectQueryData() ***Error: 0xC0000BBC\nPDH_INVALID_HANDLE\n"},
        {0xC0000BC6u, "PhdCollectQueryData() ***Error: 0xC0000BC6\nUnknown error\n"},
        {0x1u, "PhdCollectQueryData() ***Error: 0x1\nUnknown error\n"},
        {0xABCu, "PhdCollectQueryData() ***Error: 0xABC\nUnknown error\n"},
    };
    for (const CollectCase& c : collectCases) {
        calls = fakecpu::calls();
        fakecpu::pushCollect(c.status);
        s = sample();
        EXPECT_EQ(s.value, 0) << std::hex << c.status;
        EXPECT_EQ(s.printed, c.printed);
        fakecpu::Calls after = fakecpu::calls();
        EXPECT_EQ(after.collect, calls.collect + 1);
        EXPECT_EQ(after.format, calls.format) << "no read after a failed collection";
    }

    // A failed read prints its own line and no usage.
    fakecpu::pushValue(0xC0000BC6u, 42.0);
    s = sample();
    EXPECT_EQ(s.value, 0);
    EXPECT_EQ(s.printed, "PdhGetFormattedCounterValue() ***Error: 0xC0000BC6\n");
    fakecpu::pushValue(0x800007D5u, 42.0);
    s = sample();
    EXPECT_EQ(s.value, 0);
    EXPECT_EQ(s.printed, "PdhGetFormattedCounterValue() ***Error: 0x800007D5\n");

    // Values: truncated toward zero and held in a signed byte.
    struct ValueCase {
        double value;
        int expected;
        const char* printed;
    };
    const ValueCase valueCases[] = {
        {57.9, 57, "\n\nCPU Total usage:  57%\n"},
        {99.99, 99, "\n\nCPU Total usage:  99%\n"},
        {100.0, 100, "\n\nCPU Total usage: 100%\n"},
        {0.0, 0, "\n\nCPU Total usage:   0%\n"},
        {0.999, 0, "\n\nCPU Total usage:   0%\n"},
        {5.5, 5, "\n\nCPU Total usage:   5%\n"},
        {-1.5, -1, "\n\nCPU Total usage:  -1%\n"},
        {-0.7, 0, "\n\nCPU Total usage:   0%\n"},
        {127.9, 127, "\n\nCPU Total usage: 127%\n"},
        {128.0, -128, "\n\nCPU Total usage: -128%\n"},
        {200.0, -56, "\n\nCPU Total usage: -56%\n"},
        {300.7, 44, "\n\nCPU Total usage:  44%\n"},
        {-200.2, 56, "\n\nCPU Total usage:  56%\n"},
        {65636.0, 100, "\n\nCPU Total usage: 100%\n"},
    };
    for (const ValueCase& c : valueCases) {
        fakecpu::pushValue(0, c.value);
        s = sample();
        EXPECT_EQ(s.value, c.expected) << "value " << c.value;
        EXPECT_EQ(s.printed, c.printed) << "value " << c.value;
    }

    // A failure never sends the sampler back to opening: after everything
    // above, it opened three times and added the counter once.
    calls = fakecpu::calls();
    EXPECT_EQ(calls.open, 3);
    EXPECT_EQ(calls.add, 1);
    EXPECT_EQ(fakecpu::pending(), 0) << "every scripted result was used";
    EXPECT_EQ(recording::traceJoined(), "") << "the sampler writes to standard output only";
}

}  // namespace
