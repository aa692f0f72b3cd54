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

    std::shared_ptr<bool> advance(std::chrono::steady_clock::duration by)
    {
        return fakeclock::advance(server->mIoService, by);
    }

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

TEST_F(TickSchedule, AddressNoticesInABurstNeitherStarveTheCheckNorMoveTheRecheck)
{
    const zq::TickClock::time_point recheck = server->mAddressTimer.expiry();
    server->on_address_notice();
    EXPECT_EQ(server->mAddressTimer.expiry(), recheck);  // the five-second re-check stays

    // Route churn: notices closer together than 300 ms, each after another change.
    const std::string check = "ZqServer::checkLocalAddresses  interfaces [";
    int change = 0;
    for (auto every : {100ms, 250ms}) {
        auto sinceCheck = 0ms, longest = 0ms;
        for (auto elapsed = 0ms; elapsed < 4s; elapsed += every) {
            fakehost::Host host;
            host.interfaces = {"10.8.0." + std::to_string(++change)};
            fakehost::set(host);
            const std::size_t checks = recording::traceCountStarting(check);
            server->on_address_notice();
            std::shared_ptr<bool> looked = advance(every);
            ASSERT_TRUE(runUntil(server->mIoService, [&] { return *looked; }));
            server->mIoService.poll();
            longest = std::max(longest, sinceCheck += every);
            if (recording::traceCountStarting(check) > checks)
                sinceCheck = 0ms;
        }
        // A check at most a second after the first notice since the last one.
        EXPECT_LE(longest, 1s + every) << "a notice every " << every.count() << " ms";
    }
}

}  // namespace
