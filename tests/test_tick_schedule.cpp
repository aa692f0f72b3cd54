// The timer cycle's schedule against a clock that the test moves: ticks
// that fell a little behind follow at once, a long stall (a resume from
// sleep) brings one tick and then the one-second schedule again, never a
// burst and never a silence.
#include <gtest/gtest.h>

#include <chrono>

#include "fakes/fake_cpu_counter.h"
#include "fakes/fake_host.h"
#include "fakes/fake_tick_clock.h"
#include "fakes/idle_server.h"
#include "fakes/recording_debug_output.h"

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
