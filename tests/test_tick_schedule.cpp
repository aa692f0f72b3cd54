// The timer cycle's schedule against a clock that the test moves: ticks
// that fell a little behind follow at once, a long stall (a resume from
// sleep) brings one tick and then the one-second schedule again, never a
// burst and never a silence.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "fakes/fake_cpu_counter.h"
#include "fakes/fake_host.h"
#include "fakes/fake_tick_clock.h"
#include "fakes/idle_server.h"
#include "fakes/recording_debug_output.h"
#include "support/run_until.h"

namespace {

using namespace std::chrono_literals;

class TickSchedule : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakeclock::reset();
        recording::clearTrace();
        fakehost::set(fakehost::Host{});
        fakecpu::setDefaultValue(3);
        server = std::make_unique<IdleServer>();
        // The first tick is due six seconds after construction: now.
        advance(6s);
        runFor(300ms);
        ASSERT_EQ(server->mTickCount, 1);
    }

    void TearDown() override { fakeclock::reset(); }

    void advance(std::chrono::steady_clock::duration by) { fakeclock::advance(server->mIoService, by); }

    // Runs the server's I/O loop for a bounded real time.
    void runFor(std::chrono::milliseconds time)
    {
        server->mIoService.run_for(time);
        server->mIoService.restart();
    }

    std::unique_ptr<IdleServer> server;
};

TEST_F(TickSchedule, TicksAFewSecondsLateFollowAtOnce)
{
    // Three seconds behind: the fixed schedule is kept, so the ticks that
    // fell due follow at once.
    advance(3s);
    runFor(1200ms);
    // Restarting the schedule here would give two or three ticks.
    EXPECT_GE(server->mTickCount, 4);
    EXPECT_LE(server->mTickCount, 6);
    EXPECT_EQ(recording::traceJoined().find("restarted from now"), std::string::npos);
}

TEST_F(TickSchedule, AfterALongStallOneTickThenOneASecond)
{
    recording::clearTrace();
    advance(1h);
    runFor(500ms);
    // One tick for the stall, none of the 3600 it missed.
    EXPECT_EQ(server->mTickCount, 2);
    std::size_t restarts = 0;
    for (const std::string& text : recording::traceTexts())
        restarts += text.find("s behind, restarted from now\n") != std::string::npos;
    EXPECT_EQ(restarts, 1u);
    // And the schedule goes on from there.
    runFor(2100ms);
    EXPECT_GE(server->mTickCount, 4);
    EXPECT_LE(server->mTickCount, 5);
}

}  // namespace

namespace {

// Checks of the interfaces that saw a change so far.
std::size_t interfaceChecks()
{
    std::size_t count = 0;
    for (const std::string& text : recording::traceTexts())
        count += text.rfind("ZqServer::checkLocalAddresses  interfaces [", 0) == 0;
    return count;
}

TEST_F(TickSchedule, AddressNoticesInABurstNeitherStarveTheCheckNorMoveTheRecheck)
{
    // A notice leaves the five-second re-check where it was.
    const zq::TickClock::time_point recheck = server->mAddressTimer.expiry();
    server->on_address_notice();
    EXPECT_EQ(server->mAddressTimer.expiry(), recheck);

    // Route churn: notices closer together than 300 ms, each after another
    // change of the interfaces.
    int change = 0;
    for (auto every : {100ms, 250ms}) {
        SCOPED_TRACE("a notice every " + std::to_string(every.count()) + " ms");
        const std::size_t before = interfaceChecks();
        std::chrono::milliseconds sinceCheck{0};
        std::chrono::milliseconds longest{0};
        for (auto elapsed = 0ms; elapsed < 4s; elapsed += every) {
            fakehost::Host host;
            host.interfaces = {"10.8.0." + std::to_string(++change)};
            fakehost::set(host);
            const std::size_t checks = interfaceChecks();
            server->on_address_notice();
            std::shared_ptr<bool> looked = fakeclock::advance(server->mIoService, every);
            ASSERT_TRUE(runUntil(server->mIoService, [&] { return *looked; }));
            server->mIoService.poll();
            sinceCheck += every;
            longest = std::max(longest, sinceCheck);
            if (interfaceChecks() > checks)
                sinceCheck = 0ms;
        }
        // Each check comes at most one second after the notice that
        // followed the one before (seen at the step that reaches it).
        EXPECT_LE(longest, 1s + every);
        EXPECT_GE(interfaceChecks() - before, 4u);
    }
}

}  // namespace
