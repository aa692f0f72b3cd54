#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>

#include "fakes/plant_host.h"
#include "fakes/recording_debug_output.h"
#include "fakes/scripted_service.h"
#include "net/protocol.h"
#include "service/zq_srv.h"

using svc::State;

TEST(EventRateLimit, BurstThenOneEntryPerPeriod)
{
    // A burst of 3, then one a second; credit is capped at the burst and a
    // clock that goes back gives none. {time, allowed}
    const std::pair<std::uint64_t, bool> steps[] = {
        {0, true},     {0, true},     {0, true},     {0, false},     {999, false},   {1000, true},
        {1000, false}, {1999, false}, {2000, true},  {60000, true},  {60000, true},  {60000, true},
        {60000, false}, {30000, false}, {30999, false}, {31000, true}};
    svc::EventRateLimit limit(3, 1000);
    for (const auto& step : steps)
        EXPECT_EQ(limit.allow(step.first), step.second) << "at " << step.first;
}

TEST(EventPump, AFloodIsCutAndCountedInOneEntry)
{
    svc::EventPump pump;
    std::string flood;
    for (int i = 0; i < 150; ++i)
        flood += "\r MulticastRX= text " + std::to_string(i) + "\r";
    std::vector<svc::Event> first = pump.pump(flood + "\r ZqServer= late\n\r", 5000);
    ASSERT_EQ(first.size(), 100u);
    EXPECT_EQ(first.back().text, " MulticastRX= text 99");
    EXPECT_EQ(first.back().type, svc::EventType::Information);

    // Nothing until a token is back; then the note first, then new lines.
    EXPECT_TRUE(pump.pump("", 5500).empty());
    std::vector<svc::Event> later = pump.pump("\r ZqServer= *** EXCEPTION  X\n\r", 7000);
    ASSERT_EQ(later.size(), 2u);
    EXPECT_EQ(later[0].text, "EVENT LOG ENTRIES LEFT OUT BY RATE LIMIT=[51]");
    EXPECT_EQ(later[1].text, " ZqServer= *** EXCEPTION  X\n");
    EXPECT_EQ(later[1].type, svc::EventType::Warning);
    EXPECT_TRUE(pump.flush().empty());
    // At the stop, what is left out is said whatever the limit.
    pump.pump(flood, 7000);
    ASSERT_EQ(pump.flush().size(), 1u);
}

TEST(WindowsService, RunsUntilStopThenStopsLikeExitWithCodeZero)
{
    planthost::use({"127.0.0.1"});
    scriptedservice::reset();
    recording::clearTrace();
    gEventLog.take();
    scriptedservice::onWait = [](int wait) {
        if (wait == 2)
            gEventLog.append("\r MulticastRX= ", "beaconCfgAlarm", "\r");
        return wait == 4;
    };
    EXPECT_EQ(svc::runDispatcher(svc::runService), 0);

    EXPECT_EQ(gSrv, nullptr);
    const State expected[] = {State::StartPending, State::Running, State::StopPending, State::Stopped};
    ASSERT_EQ(scriptedservice::statuses.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(scriptedservice::statuses[i].state, expected[i]) << i;
    EXPECT_EQ(scriptedservice::statuses[3].win32ExitCode + scriptedservice::statuses[3].specificExitCode, 0u);
    std::vector<std::string> texts;
    for (const svc::Event& event : scriptedservice::events)
        texts.push_back(event.text);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], " BEFORE new zq::ZqServer()");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), " MulticastRX= beaconCfgAlarm"), 1);
    // The façade's stop: its destructor ran and the server is gone.
    auto trace = recording::traceTexts();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "ZqSrv::~ZqSrv\n"), 1);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "ZqServer::~ZqServer\n"), 1);
}

TEST(WindowsService, APortHeldStopsTheServiceWithAReasonAndAnExitCode)
{
    planthost::use({"127.0.0.1"});
    scriptedservice::reset();
    boost::asio::io_service io;
    boost::asio::ip::udp::socket holder(io, boost::asio::ip::udp::endpoint(boost::asio::ip::udp::v4(), zq::kRequestPort));
    EXPECT_EQ(svc::runDispatcher(svc::runService), static_cast<int>(svc::kServiceSpecificError));

    EXPECT_EQ(gSrv, nullptr);
    ASSERT_EQ(scriptedservice::statuses.size(), 2u);
    EXPECT_EQ(scriptedservice::statuses[1].state, State::Stopped);
    EXPECT_EQ(scriptedservice::statuses[1].win32ExitCode, svc::kServiceSpecificError);
    EXPECT_EQ(scriptedservice::statuses[1].specificExitCode, svc::kExitPortHeld);
    ASSERT_FALSE(scriptedservice::events.empty());
    EXPECT_EQ(scriptedservice::events.back().type, svc::EventType::Error);
    EXPECT_EQ(scriptedservice::events.back().text.rfind("Brindlemoor Win32 Watch Dog could not start: ", 0), 0u);
    EXPECT_EQ(svc::startFailureCode(std::runtime_error("other")), svc::kExitStartFailed);
}
