// The request server's reply limit, on a clock of the test's own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "net/request_rate_limit.h"

namespace {

using zq::RequestRateLimit;
using Clock = RequestRateLimit::Clock;
using std::chrono::milliseconds;

const Clock::time_point kStart = Clock::time_point() + std::chrono::hours(1);

std::uint32_t address(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return (a << 24) | (b << 16) | (c << 8) | d;
}

// Offers count requests from source, spread evenly over period from start;
// returns how many were allowed.
int offer(RequestRateLimit& limit, std::uint32_t source, int count, Clock::time_point start, Clock::duration period)
{
    int allowed = 0;
    for (int i = 0; i < count; ++i)
        allowed += limit.allow(source, start + period * i / count) ? 1 : 0;
    return allowed;
}

}  // namespace

TEST(RequestRateLimit, OneSourceGetsItsBurstThenTwentyASecond)
{
    RequestRateLimit limit(12345);
    const std::uint32_t source = address(10, 0, 0, 9);
    EXPECT_EQ(offer(limit, source, 100, kStart, Clock::duration::zero()), 20);
    // 50 ms later there is room for exactly one more.
    EXPECT_TRUE(limit.allow(source, kStart + milliseconds(50)));
    EXPECT_FALSE(limit.allow(source, kStart + milliseconds(50)));
    // A flood of 1000 a second for ten seconds: twenty a second get through.
    int allowed = offer(limit, source, 10000, kStart + milliseconds(100), std::chrono::seconds(10));
    EXPECT_GE(allowed, 198);
    EXPECT_LE(allowed, 201);
    // Another source meanwhile has its own allowance.
    EXPECT_EQ(offer(limit, address(10, 0, 0, 10), 25, kStart + std::chrono::seconds(11), Clock::duration::zero()),
              20);
    // Dropped unread exactly while no reply could be allowed; the peek takes
    // nothing, and each drop is counted.
    const Clock::time_point full = kStart + std::chrono::seconds(20);
    limit.takeDropsToReport(full);
    EXPECT_EQ(offer(limit, source, 20, full, Clock::duration::zero()), 20);
    EXPECT_TRUE(limit.overLimit(source, full));
    EXPECT_FALSE(limit.overLimit(source, full + milliseconds(50)) || limit.overLimit(address(10, 0, 0, 11), full) ||
                 limit.overLimit(address(127, 0, 0, 1), full));
    EXPECT_EQ(limit.takeDropsToReport(full + std::chrono::minutes(2)), 1u);
    // Loopback is never limited.
    EXPECT_EQ(offer(limit, address(127, 0, 0, 1), 5000, kStart, Clock::duration::zero()), 5000);
    EXPECT_EQ(offer(limit, address(127, 1, 2, 3), 5000, kStart, Clock::duration::zero()), 5000);
}

TEST(RequestRateLimit, AllSourcesTogetherGetAThousandASecond)
{
    RequestRateLimit limit(777);
    // 5,000 sources, each well within its own limit, at 10,000 requests a
    // second for three seconds.
    int allowed = 0;
    const int kRequests = 30000;
    for (int i = 0; i < kRequests; ++i) {
        std::uint32_t source = address(198, 18, (i % 5000) / 250, (i % 5000) % 250);
        allowed += limit.allow(source, kStart + Clock::duration(std::chrono::seconds(3)) * i / kRequests) ? 1 : 0;
    }
    // The burst of 1,000, then 1,000 a second.
    EXPECT_GE(allowed, 3990);
    EXPECT_LE(allowed, 4001);
    // The table forgets quiet sources without losing the limit of a busy one.
    const std::uint32_t busy = address(203, 0, 113, 7);
    const Clock::time_point later = kStart + std::chrono::seconds(10);
    EXPECT_EQ(offer(limit, busy, 40, later, Clock::duration::zero()), 20);
    EXPECT_FALSE(limit.allow(busy, later + milliseconds(1)));
}

TEST(RequestRateLimit, DropsAreReportedAtMostOnceAMinute)
{
    RequestRateLimit limit(1);
    const std::uint32_t source = address(192, 0, 2, 1);
    EXPECT_EQ(limit.takeDropsToReport(kStart), 0u);
    offer(limit, source, 25, kStart, Clock::duration::zero());
    // The first drops are reported at once.
    EXPECT_EQ(limit.takeDropsToReport(kStart), 5u);
    offer(limit, source, 30, kStart + std::chrono::seconds(1), Clock::duration::zero());
    EXPECT_EQ(limit.takeDropsToReport(kStart + std::chrono::seconds(59)), 0u);
    EXPECT_EQ(limit.takeDropsToReport(kStart + std::chrono::seconds(60)), 10u);
    EXPECT_EQ(limit.takeDropsToReport(kStart + std::chrono::seconds(200)), 0u);
}
