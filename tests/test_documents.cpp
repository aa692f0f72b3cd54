#include <gtest/gtest.h>

#include "fakes/idle_server.h"
#include "fakes/plant_host.h"

namespace {

class Documents : public ::testing::Test {
protected:
    void SetUp() override
    {
        planthost::use({"10.0.0.7", "192.168.1.5"});
        server = std::make_unique<IdleServer>();
        server->mOsDesc = "Microsoft   Windows 7   Ultimate Edition, 64-bit";
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
              "<wdKA>\n"
              "<ipAddr>192.168.1.5</ipAddr>\n"
              "<cpuUsage>7</cpuUsage>\n"
              "<osDesc>Microsoft   Windows 7   Ultimate Edition, 64-bit</osDesc>\n"
              "<hostName></hostName>\n"
              "<wdVer>1.0</wdVer>\n"
              "</wdKA>\n");
    EXPECT_EQ(recording::traceJoined(), "==>  ZqServer::getKeepAliveXml\n<==  ZqServer::getKeepAliveXml\n");
}

TEST_F(Documents, Report)
{
    EXPECT_EQ(server->getReportXml("192.168.1.5"),
              "<wdStatus>\n"
              "<localIpInterfaces><ipAddr>10.0.0.7</ipAddr><ipAddr>192.168.1.5</ipAddr></localIpInterfaces>"
              "<ipAddr>192.168.1.5</ipAddr>\n"
              "<ipPort>34543</ipPort>\n"
              "<cpuUsage>7</cpuUsage>\n"
              "<osDesc>Microsoft   Windows 7   Ultimate Edition, 64-bit</osDesc>\n"
              "<hostName>plant-pc</hostName>\n"
              "<wdVer>1.0</wdVer>\n"
              "</wdStatus>\n");
    // The keep-alive now carries the name that the report stored.
    EXPECT_NE(server->getKeepAliveXml("10.0.0.7").find("<hostName>plant-pc</hostName>\n"), std::string::npos);
}

TEST_F(Documents, Alarm)
{
    server->mCpuUsage = 100;
    server->mRemotePort = 40001;  // the documents always name the agent's own port
    EXPECT_EQ(server->getAlarmXml(),
              "<CPU_ALARM>\n"
              "<localIpInterfaces><ipAddr>10.0.0.7</ipAddr><ipAddr>192.168.1.5</ipAddr></localIpInterfaces>"
              "<ipPort>\n34543</ipPort>\n"
              "<cpuUsage>\n100</cpuUsage>\n"
              "<osDesc>\nMicrosoft   Windows 7   Ultimate Edition, 64-bit</osDesc>\n"
              "<hostName>\nplant-pc</hostName>\n"
              "<wdVer>1.0</wdVer>\n"
              "</CPU_ALARM>\n");
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
              "<wdStatus>\n"
              "<localIpInterfaces></localIpInterfaces><ipAddr>192.168.1.5</ipAddr>\n"
              "<ipPort>34543</ipPort>\n"
              "<cpuUsage>-3</cpuUsage>\n"
              "<osDesc>OS <beta> & more</osDesc>\n"
              "<hostName>a<b&c</hostName>\n"
              "<wdVer>1.0</wdVer>\n"
              "</wdStatus>\n");
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
