#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "fakes/idle_server.h"
#include "fakes/plant_host.h"

namespace {

// Memory that runs out on demand: the n-th allocation after a test sets n fails.
std::atomic<int> gFailAllocation{0};

}  // namespace

// Not inlined, so that the compiler pairs delete with this new, not with free.
[[gnu::noinline]] void* operator new(std::size_t size)
{
    if (void* memory = gFailAllocation.fetch_sub(1) == 1 ? nullptr : std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

using Endpoint = zq::ZqServer::Endpoint;

Endpoint endpoint(const char* address, unsigned short port)
{
    return Endpoint(boost::asio::ip::make_address_v4(address), port);
}

std::string message(const std::vector<std::string>& servers, const std::string& rest = "")
{
    std::string text = "beaconCfgAlarm";
    for (const std::string& server : servers)
        text += "<srvIpAddr>" + server + "</srvIpAddr>";
    return text + rest;
}

const std::string kSettings = "<srvIpPort>40001</srvIpPort><cpuPercent>90</cpuPercent><alarmSeconds>30</alarmSeconds>";

class CrossOver : public ::testing::Test {
protected:
    void SetUp() override
    {
        planthost::use({"192.168.1.5"});
        server = std::make_unique<IdleServer>();
        planthost::clearRecords();
    }
    std::unique_ptr<IdleServer> server;
};

}  // namespace

TEST_F(CrossOver, OnePairOnTheCommonNetwork)
{
    zq::ZqServer::setCrossOver(message({"192.168.1.20"}, kSettings));

    EXPECT_EQ(server->mNumPairs, 1);
    EXPECT_EQ(server->mCommonLocalIps.get(), "192.168.1.5");
    EXPECT_EQ(server->mLocalEndpoints[0], endpoint("192.168.1.5", 40001));
    EXPECT_EQ(server->mRemoteEndpoints[0], endpoint("192.168.1.20", 40001));
    EXPECT_EQ(server->mRemotePort, 40001);
    EXPECT_EQ(server->mAlarmPercent, 90);
    EXPECT_EQ(server->mAlarmSeconds, 30);
    EXPECT_EQ(server->mTriggerText.get(), "90%:30s");
    EXPECT_TRUE(server->mConfigured);
    EXPECT_EQ(server->mHostName.get(), "plant-pc");
    EXPECT_EQ(recording::traceJoined(),
              "==>  ZqServer::setCrossOver\n"
              "Host name is [plant-pc]\nAddress [192.168.1.5]\n"
              "Add to Local list [192.168.1.5]\n"
              "Add to Server list [192.168.1.20]\n"
              "TEST [192.168.1.5][3232235776] ? [3232235776][192.168.1.20]\n"
              "FOUND A COMMON NETWORK [0] [0]\n"
              "SETTING COMMON NETWORK [192.168.1.5] [192.168.1.20]\n"
              "mRemotePort=[40001]  mAlarmPercent=[90]  mAlarmSeconds=[30]\n"
              "<==  ZqServer::setCrossOver\n");
}

TEST_F(CrossOver, PairsInLocalThenServerOrder)
{
    planthost::use({"10.0.0.7", "192.168.1.5", "192.168.1.6"});
    zq::ZqServer::setCrossOver(message({"192.168.1.20", "10.0.0.1", "192.168.1.20"}, kSettings));

    // local 0 x server 1; local 1 x servers 0 and 2; local 2 x servers 0 and 2
    ASSERT_EQ(server->mNumPairs, 5);
    const char* locals[] = {"10.0.0.7", "192.168.1.5", "192.168.1.5", "192.168.1.6", "192.168.1.6"};
    const char* servers[] = {"10.0.0.1", "192.168.1.20", "192.168.1.20", "192.168.1.20", "192.168.1.20"};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(server->mLocalEndpoints[k], endpoint(locals[k], 40001)) << k;
        EXPECT_EQ(server->mRemoteEndpoints[k], endpoint(servers[k], 40001)) << k;
    }
    EXPECT_EQ(server->mCommonLocalIps.get(),
              "10.0.0.7,  192.168.1.5,  192.168.1.5,  192.168.1.6,  192.168.1.6");
    std::string traced = recording::traceJoined();
    EXPECT_NE(traced.find("TEST [10.0.0.7][167772160] ? [3232235776][192.168.1.20]\n"), std::string::npos);
    EXPECT_NE(traced.find("FOUND A COMMON NETWORK [0] [1]\n"), std::string::npos);
    EXPECT_NE(traced.find("FOUND A COMMON NETWORK [2] [2]\n"), std::string::npos);
}

TEST_F(CrossOver, SecondLocalAddressMatches)
{
    planthost::use({"10.0.0.7", "192.168.1.5"});
    zq::ZqServer::setCrossOver(message({"192.168.1.20"}, kSettings));
    EXPECT_EQ(server->mNumPairs, 1);
    EXPECT_EQ(server->mLocalEndpoints[0], endpoint("192.168.1.5", 40001));
    std::string traced = recording::traceJoined();
    EXPECT_NE(traced.find("TEST [10.0.0.7][167772160] ? [3232235776][192.168.1.20]\n"), std::string::npos);
    EXPECT_NE(traced.find("FOUND A COMMON NETWORK [1] [0]\n"), std::string::npos);
}

TEST_F(CrossOver, MoreThanFivePairsKeepsTheFirstFive)
{
    planthost::use({"192.168.1.5", "192.168.1.6", "192.168.1.7", "192.168.1.8", "192.168.1.9", "192.168.1.10"});
    zq::ZqServer::setCrossOver(message({"192.168.1.20", "192.168.1.21"}, kSettings));
    EXPECT_EQ(server->mNumPairs, 5);
    EXPECT_EQ(server->mCommonLocalIps.get(),
              "192.168.1.5,  192.168.1.5,  192.168.1.6,  192.168.1.6,  192.168.1.7");
    EXPECT_EQ(server->mRemoteEndpoints[4], endpoint("192.168.1.20", 40001));
    // Only the first five local addresses are compared.
    EXPECT_EQ(recording::traceJoined().find("[192.168.1.10]["), std::string::npos);
}

TEST_F(CrossOver, ServerListReadsFiveAndStopsAtAnEmptyElement)
{
    planthost::use({"192.168.1.5"});
    zq::ZqServer::setCrossOver(message({"10.9.9.1", "10.9.9.2", "10.9.9.3", "10.9.9.4", "10.9.9.5", "192.168.1.20"},
                                       kSettings));
    EXPECT_EQ(server->mNumPairs, 0);  // the sixth, matching, address is never read

    zq::ZqServer::setCrossOver(message({"10.9.9.1", ""}, kSettings) +
                               "<srvIpAddr>192.168.1.20</srvIpAddr>");
    EXPECT_EQ(server->mNumPairs, 0);  // the empty element ends the list

    zq::ZqServer::setCrossOver("<cpuPercent>90</cpuPercent> preamble beaconCfgAlarm <srvIpPort>40001</srvIpPort>"
                               "<srvIpAddr>192.168.1.20</srvIpAddr> trailing <alarmSeconds> 30 </alarmSeconds>");
    EXPECT_EQ(server->mNumPairs, 1);
    EXPECT_EQ(server->mTriggerText.get(), "90%:30s");
    EXPECT_EQ(server->mRemoteEndpoints[0], endpoint("192.168.1.20", 40001));
}

TEST_F(CrossOver, MessagesWithoutPairsOrSettings)
{
    zq::ZqServer::setCrossOver(message({"192.168.1.20"}, kSettings));
    ASSERT_EQ(server->mNumPairs, 1);

    // No pair: the port stays, the pairs and common list are cleared, the
    // alarm settings still change.
    zq::ZqServer::setCrossOver(message({"192.168.2.20"}, "<srvIpPort>9</srvIpPort>"));
    EXPECT_EQ(server->mNumPairs, 0);
    EXPECT_EQ(server->mCommonLocalIps.get(), "");
    EXPECT_EQ(server->mRemotePort, 40001);
    EXPECT_EQ(server->mTriggerText.get(), "0%:0s");
    EXPECT_EQ(server->mAlarmPercent, 0);
    EXPECT_EQ(server->mAlarmSeconds, 0);
    EXPECT_TRUE(server->mConfigured);

    // A pair without a port element sets the port to 0.
    zq::ZqServer::setCrossOver(message({"192.168.1.20"}, "<cpuPercent>-5</cpuPercent>"));
    EXPECT_EQ(server->mRemotePort, 0);
    EXPECT_EQ(server->mRemoteEndpoints[0].port(), 0);
    EXPECT_EQ(server->mTriggerText.get(), "-5%:0s");

    // The port is the low 16 bits of the configured value.
    zq::ZqServer::setCrossOver(message({"192.168.1.20"}, "<srvIpPort>65537</srvIpPort>"));
    EXPECT_EQ(server->mRemotePort, 65537);
    EXPECT_EQ(server->mRemoteEndpoints[0].port(), 1);
    EXPECT_EQ(gEventLog.take(), "");
}

TEST_F(CrossOver, AnAddressOnlyTheLenientFormAcceptsKeepsEarlierWrites)
{
    zq::ZqServer::setCrossOver(message({"192.168.1.20"}, kSettings));
    ASSERT_EQ(server->mTriggerText.get(), "90%:30s");
    planthost::use({"192.168.1.5", "192.168.1.6"});
    gEventLog.take();
    recording::clearTrace();

    // 0300.0250.1.30 is 192.168.1.24 to the lenient conversion, but no plain
    // dotted quad: the first pair is recorded, the second fails.
    zq::ZqServer::setCrossOver(message({"192.168.1.21", "0300.0250.1.30"},
                                       "<srvIpPort>5000</srvIpPort><cpuPercent>50</cpuPercent>"));
    EXPECT_EQ(server->mNumPairs, 1);
    EXPECT_EQ(server->mRemoteEndpoints[0], endpoint("192.168.1.21", 5000));
    EXPECT_EQ(server->mCommonLocalIps.get(), "192.168.1.5,  192.168.1.5");
    EXPECT_EQ(server->mRemotePort, 5000);
    EXPECT_EQ(server->mAlarmPercent, 90);
    EXPECT_EQ(server->mAlarmSeconds, 30);
    EXPECT_EQ(server->mTriggerText.get(), "90%:30s");
    EXPECT_EQ(gEventLog.take(), "\r ZqServer= *** EXCEPTION  ZqServer::setCrossOver\n\r");
    std::string traced = recording::traceJoined();
    EXPECT_NE(traced.find("*** EXCEPTION  ZqServer::setCrossOver\n<==  ZqServer::setCrossOver\n"),
              std::string::npos);
}

TEST_F(CrossOver, HexadecimalShortenedNumberAndZeroPaddedFormsFailTheCallLikeOctal)
{
    // Each names an address on 192.168.1.0/24 to the lenient conversion, so
    // it pairs with the host's 192.168.1.5, yet none is a plain dotted quad.
    const char* forms[] = {"0xC0.0xA8.0x1.0x1E", "0xc0a8011e", "192.168.286", "3232235806", "192.168.001.030"};
    for (const char* form : forms) {
        zq::ZqServer::setCrossOver(message({"192.168.1.20"}, kSettings));
        ASSERT_EQ(server->mNumPairs, 1) << form;
        gEventLog.take();
        recording::clearTrace();

        zq::ZqServer::setCrossOver(message({form}, "<srvIpPort>5000</srvIpPort><cpuPercent>50</cpuPercent>"
                                                   "<alarmSeconds>9</alarmSeconds>"));
        EXPECT_EQ(server->mNumPairs, 0) << form;
        EXPECT_EQ(server->mCommonLocalIps.get(), "192.168.1.5") << form;
        EXPECT_EQ(server->mRemotePort, 5000) << form;
        EXPECT_EQ(server->mTriggerText.get(), "90%:30s") << form;
        EXPECT_EQ(server->mAlarmPercent, 90) << form;
        EXPECT_EQ(server->mAlarmSeconds, 30) << form;
        EXPECT_EQ(gEventLog.take(), "\r ZqServer= *** EXCEPTION  ZqServer::setCrossOver\n\r") << form;
        EXPECT_NE(recording::traceJoined().find("TEST [192.168.1.5][3232235776] ? [3232235776][" +
                                                std::string(form) + "]\nFOUND A COMMON NETWORK [0] [0]\n"),
                  std::string::npos)
            << form;
    }
}

TEST_F(CrossOver, RejectedAndZeroServerAddressesMatchNothing)
{
    zq::ZqServer::setCrossOver(message({"not-an-address", "0.0.0.0"}, kSettings));
    EXPECT_EQ(server->mNumPairs, 0);
    std::string traced = recording::traceJoined();
    EXPECT_NE(traced.find("TEST [192.168.1.5][3232235776] ? [4294967040][not-an-address]\n"), std::string::npos);
    EXPECT_NE(traced.find("*** ERROR   getNetOctsInt   (IpAddr == 0)\r\nTEST [192.168.1.5][3232235776] ? [0][0.0.0.0]\n"),
              std::string::npos);
}

TEST_F(CrossOver, NothingHappensWithoutAServer)
{
    zq::ZqServer* saved = zq::gServer;
    zq::gServer = nullptr;
    zq::ZqServer::setCrossOver(message({"192.168.1.20"}, kSettings));
    zq::gServer = saved;
    EXPECT_FALSE(server->mConfigured);
    EXPECT_EQ(recording::traceJoined(), "");
}

TEST_F(CrossOver, MemoryRunningOutAnywhereInsideNeverEscapes)
{
    const std::string config = message({"192.168.1.20"}, kSettings);
    // The n-th allocation of the call fails, for every n until the call needs fewer.
    for (int n = 1; n < 100000; ++n) {
        planthost::clearRecords();
        gFailAllocation = n;
        EXPECT_NO_THROW(zq::ZqServer::setCrossOver(config)) << "allocation " << n;
        if (gFailAllocation.exchange(0) > 0)
            break;
        if (n == 1) {  // the copy of the message that is kept: noted, nothing applied
            EXPECT_EQ(gEventLog.take(), "\r ZqServer= *** EXCEPTION  ZqServer::setCrossOver\n\r");
            EXPECT_FALSE(server->mConfigured);
        }
    }
    EXPECT_EQ(server->mTriggerText.get(), "90%:30s");
    EXPECT_EQ(server->mLastConfig, config);
}
