#include <gtest/gtest.h>

#include "fakes/idle_server.h"
#include "fakes/plant_host.h"
#include "golden/golden.h"

namespace {

const std::string kOs = "Microsoft   Windows 7   Ultimate Edition, 64-bit";
const std::string kBothAddresses = "<ipAddr>10.0.0.7</ipAddr><ipAddr>192.168.1.5</ipAddr>";

class Documents : public ::testing::Test {
protected:
    void SetUp() override
    {
        planthost::use({"10.0.0.7", "192.168.1.5"});
        server = std::make_unique<IdleServer>();
        server->mOsDesc = kOs;
        server->mCpuUsage = 7;
        recording::clearTrace();
    }
    std::unique_ptr<IdleServer> server;
};

}  // namespace

TEST_F(Documents, KeepAlive)
{
    // Before any host-name query the host name is empty.
    EXPECT_EQ(server->getKeepAliveXml("192.168.1.5"),
              golden("keep_alive", {{"ADDRESS", "192.168.1.5"}, {"CPU", "7"}, {"OS", kOs}, {"HOST", ""}}));
    EXPECT_EQ(recording::traceJoined(), "==>  ZqServer::getKeepAliveXml\n<==  ZqServer::getKeepAliveXml\n");
}

TEST_F(Documents, Report)
{
    EXPECT_EQ(server->getReportXml("192.168.1.5"),
              golden("status_report", {{"INTERFACES", kBothAddresses}, {"ADDRESS", "192.168.1.5"}, {"CPU", "7"},
                                       {"OS", kOs}, {"HOST", "plant-pc"}}));
    // The keep-alive now carries the name that the report stored.
    EXPECT_NE(server->getKeepAliveXml("10.0.0.7").find("<hostName>plant-pc</hostName>\n"), std::string::npos);
}

TEST_F(Documents, Alarm)
{
    server->mCpuUsage = 100;
    server->mRemotePort = 40001;  // the documents always name the agent's own port
    EXPECT_EQ(server->getAlarmXml(),
              golden("cpu_alarm", {{"INTERFACES", kBothAddresses}, {"CPU", "100"}, {"OS", kOs}, {"HOST", "plant-pc"}}));
}

TEST_F(Documents, FailedLookupAndUnescapedValues)
{
    fakehost::Host host;
    host.name = "a<b&c";
    host.lookupFails = true;
    fakehost::set(host);
    server->mOsDesc = "OS <beta> & more";
    server->mCpuUsage = -3;
    EXPECT_EQ(server->getReportXml("192.168.1.5"),
              golden("status_report", {{"INTERFACES", ""}, {"ADDRESS", "192.168.1.5"}, {"CPU", "-3"},
                                       {"OS", "OS <beta> & more"}, {"HOST", "a<b&c"}}));
}

TEST_F(Documents, OsDescriptionIsWorkedOutOnce)
{
    server->mOsDesc.clear();
    std::string first = server->getOsDescText();
    EXPECT_EQ(server->mOsDesc, first);
    server->mOsDesc = "cached";
    EXPECT_EQ(server->getOsDescText(), "cached");
    EXPECT_NE(server->getKeepAliveXml("1.2.3.4").find("<osDesc>cached</osDesc>\n"), std::string::npos);
}
