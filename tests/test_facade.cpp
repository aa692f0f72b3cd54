#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "fakes/idle_server.h"
#include "fakes/plant_host.h"
#include "hostinfo/os_description.h"
#include "service/zq_srv.h"

namespace {

std::size_t indexOf(const std::vector<std::string>& texts, const std::string& text)
{
    for (std::size_t i = 0; i < texts.size(); ++i)
        if (texts[i] == text)
            return i;
    return texts.size();
}

}  // namespace

TEST(Facade, StartReadAndStop)
{
    planthost::use({"127.0.0.1"});
    gEventLog.take();
    recording::clearTrace();

    gSrv = new zq::ZqSrv();
    ASSERT_NE(gSrv->mServer, nullptr);
    EXPECT_EQ(zq::gServer, gSrv->mServer);

    std::string log = zq::ZqSrv::takeEventLog();
    EXPECT_EQ(log.rfind("\r BEFORE new zq::ZqServer()\r\n", 0), 0u) << log;
    EXPECT_NE(log.find("\r AFTER new zq::ZqServer()\r\n"), std::string::npos) << log;
    EXPECT_EQ(zq::ZqSrv::takeEventLog(), "");

    EXPECT_EQ(zq::ZqSrv::getCpuUsage(), "0");
    EXPECT_EQ(zq::ZqSrv::getHostName(), "");
    EXPECT_EQ(zq::ZqSrv::getCommonLocalIps(), "");
    EXPECT_EQ(zq::ZqSrv::getTriggerText(), "");
    EXPECT_EQ(zq::ZqSrv::getOrvane(), "");
    EXPECT_EQ(zq::ZqSrv::getCloud(), "");
    EXPECT_EQ(zq::ZqSrv::getOsDesc(), buildOsDescription());

    zq::ZqServer* server = gSrv->mServer;
    server->mCloudServer.set("10.1.2.3");
    server->mCpuUsage = 42;
    EXPECT_EQ(zq::ZqSrv::getCloud(), "10.1.2.3");
    EXPECT_EQ(zq::ZqSrv::getCpuUsage(), "42");

    delete gSrv;
    gSrv = nullptr;

    auto texts = recording::traceTexts();
    std::size_t started = indexOf(texts, "All Started");
    std::size_t stopping = indexOf(texts, "ZqSrv::~ZqSrv\n");
    std::size_t destroyed = indexOf(texts, "ZqServer::~ZqServer\n");
    ASSERT_LT(started, texts.size());
    ASSERT_LT(stopping, texts.size());
    ASSERT_LT(destroyed, texts.size());
    EXPECT_LT(indexOf(texts, "ZqSrv::ZqSrv\n"), indexOf(texts, "==>  ZqServer::ZqServer\n"));
    EXPECT_LT(indexOf(texts, "Num Local Ip/NICs=[1]\n"), started);
    EXPECT_LT(started, stopping);
    EXPECT_LT(stopping, destroyed);
    EXPECT_LT(indexOf(texts, "ZqServer::stop\n"), destroyed);
}

TEST(Facade, ServerEntriesStandBetweenTheCreationMarks)
{
    // Another program holds the agent's port without sharing it: the two
    // receivers and the sender cannot bind, and the server logs each while
    // it is being built.
    fakehost::Host host = planthost::plantPc({"127.0.0.1"});
    fakehost::set(host);
    gEventLog.take();
    {
        boost::asio::io_service io;
        boost::asio::ip::udp::socket holder(io, boost::asio::ip::udp::endpoint(boost::asio::ip::udp::v4(), zq::kAgentPort));
        gSrv = new zq::ZqSrv();
        EXPECT_EQ(zq::ZqSrv::takeEventLog(),
                  "\r BEFORE new zq::ZqServer()\r\n"
                  "\r ZqServer= *** EXCEPTION  MulticastReceiver::MulticastReceiver\n\r"
                  "\r ZqServer= *** EXCEPTION  MulticastReceiverCloud::MulticastReceiverCloud\n\r"
                  "\r ZqServer= *** EXCEPTION  UdpBoundSocket::UdpBoundSocket\n\r"
                  "\r AFTER new zq::ZqServer()\r\n");
        delete gSrv;
        gSrv = nullptr;
    }

    // A host name that cannot be read: no sender at all, and no entry.
    host.nameFails = true;
    host.nameError = 10093;
    fakehost::set(host);
    recording::clearTrace();
    gSrv = new zq::ZqSrv();
    EXPECT_EQ(zq::ZqSrv::takeEventLog(), "\r BEFORE new zq::ZqServer()\r\n\r AFTER new zq::ZqServer()\r\n");
    EXPECT_NE(recording::traceJoined().find("Error [10093]  when getting local host name.\n"), std::string::npos);
    EXPECT_EQ(gSrv->mServer->mSenders[0], nullptr);
    delete gSrv;
    gSrv = nullptr;
}

TEST(Facade, StartFailsWhenTheRequestPortIsTaken)
{
    planthost::use({"127.0.0.1"});
    boost::asio::io_service io;
    boost::asio::ip::udp::socket holder(io, boost::asio::ip::udp::endpoint(boost::asio::ip::udp::v4(), zq::kRequestPort));
    gEventLog.take();
    EXPECT_THROW(zq::ZqSrv facade, boost::system::system_error);
    EXPECT_EQ(gEventLog.take(), "\r BEFORE new zq::ZqServer()\r\n");
}

TEST(Server, StopWaitsForTheRunningHandler)
{
    planthost::use({"127.0.0.1"});
    recording::clearTrace();
    auto server = std::make_unique<zq::ZqServer>();

    std::promise<void> handlerEntered;
    std::promise<void> releaseHandler;
    std::shared_future<void> released = releaseHandler.get_future().share();
    std::atomic<bool> handlerDone{false};
    server->mIoService.post([&] {
        handlerEntered.set_value();
        released.wait();
        handlerDone = true;
    });
    std::thread worker([&] { server->run(); });
    handlerEntered.get_future().wait();

    server->stop();
    EXPECT_FALSE(server->runExited());  // the handler still runs: handle_stop waits behind it
    releaseHandler.set_value();
    while (!server->runExited())
        std::this_thread::yield();
    EXPECT_TRUE(handlerDone.load());
    worker.join();

    auto texts = recording::traceTexts();
    EXPECT_LT(indexOf(texts, "ZqServer::stop\n"), indexOf(texts, "ZqServer::handle_stop\n"));
    EXPECT_LT(indexOf(texts, "ZqServer::handle_stop\n"), indexOf(texts, "ZqServer::run HAS EXITED CORRECTLY\n"));
    EXPECT_LT(indexOf(texts, "ZqServer::run HAS EXITED CORRECTLY\n"), texts.size());

    server.reset();  // the flag is set: the destructor's wait ends at once
}

TEST(Server, RunCatchesAnEscapingErrorAndStillMarksItselfExited)
{
    planthost::use({"127.0.0.1"});
    auto server = std::make_unique<zq::ZqServer>();
    gEventLog.take();
    recording::clearTrace();
    server->mIoService.post([] { throw std::runtime_error("send_to: Network is unreachable"); });
    server->run();
    EXPECT_TRUE(server->runExited());
    EXPECT_EQ(gEventLog.take(), "\r ZqServer= *** EXCEPTION  ZqServer::run\n\r");
    auto texts = recording::traceTexts();
    EXPECT_LT(indexOf(texts, "*** EXCEPTION  ZqServer::run\n"), texts.size());
    EXPECT_EQ(indexOf(texts, "ZqServer::run HAS EXITED CORRECTLY\n"), texts.size());
}

TEST(Server, TakesAtMostFiveLocalAddresses)
{
    planthost::use({"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5", "10.0.0.6"});
    IdleServer server;
    EXPECT_EQ(server.mLocalEndpoints[0], zq::ZqServer::Endpoint(boost::asio::ip::make_address_v4("10.0.0.1"), 34543));
    EXPECT_EQ(server.mLocalEndpoints[4], zq::ZqServer::Endpoint(boost::asio::ip::make_address_v4("10.0.0.5"), 34543));
    EXPECT_EQ(server.mNumPairs, 0);
    EXPECT_EQ(server.mAlarmPercent, 100);
    EXPECT_EQ(server.mAlarmSeconds, 5);
    EXPECT_EQ(server.mAlarmCountdown, 5);
    EXPECT_EQ(server.mTimerSeconds, 1);  // the timer was started
    EXPECT_TRUE(server.mTimerRunning);
    for (zq::UdpBoundSocket* sender : server.mSenders)
        EXPECT_NE(sender, nullptr);
    EXPECT_FALSE(server.mConfigured);
}

TEST(Facade, GettersDuringConfigurationChanges)
{
    planthost::use({"127.0.0.1", "127.0.0.2"});
    gSrv = new zq::ZqSrv();
    zq::ZqServer* server = gSrv->mServer;

    // The worker thread applies configurations one after another while this
    // thread reads what the dialog shows; every text read must be whole.
    const int kMessages = 300;
    std::atomic<int> applied{0};
    for (int i = 0; i < kMessages; ++i) {
        std::string percent = std::to_string(10 + i % 2 * 80);
        std::string message = i % 2 == 0
            ? "beaconCfgAlarm<srvIpAddr>127.0.0.9</srvIpAddr><cpuPercent>" + percent + "</cpuPercent>"
            : "beaconCfgAlarm<srvIpAddr>10.9.9.9</srvIpAddr><cpuPercent>" + percent + "</cpuPercent>";
        server->mIoService.post([message, &applied] {
            zq::ZqServer::setCrossOver(message);
            zq::gServer->mCloudServer.set(message.size() % 2 ? "10.1.2.3" : "10.100.200.3");
            ++applied;
        });
    }
    for (int reads = 0; applied.load() < kMessages && reads < 2000000; ++reads) {
        std::string common = zq::ZqSrv::getCommonLocalIps();
        ASSERT_TRUE(common.empty() || common == "127.0.0.1,  127.0.0.2") << common;
        std::string trigger = zq::ZqSrv::getTriggerText();
        ASSERT_TRUE(trigger.empty() || trigger == "10%:0s" || trigger == "90%:0s") << trigger;
        std::string cloud = zq::ZqSrv::getCloud();
        ASSERT_TRUE(cloud.empty() || cloud == "10.1.2.3" || cloud == "10.100.200.3") << cloud;
        std::string name = zq::ZqSrv::getHostName();
        ASSERT_TRUE(name.empty() || name == "plant-pc") << name;
        zq::ZqSrv::getCpuUsage();
        zq::ZqSrv::takeEventLog();
    }
    EXPECT_EQ(applied.load(), kMessages);
    delete gSrv;
    gSrv = nullptr;
}
