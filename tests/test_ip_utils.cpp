#include <gtest/gtest.h>

#include <stdexcept>

#include "config/ip_utils.h"
#include "fakes/idle_server.h"
#include "fakes/plant_host.h"

TEST(ResolveIpInt, DottedQuadConvertsWithoutLookup)
{
    planthost::use({"10.0.0.7"});
    EXPECT_EQ(resolveIpInt("192.168.1.5"), 0xC0A80105u);
    EXPECT_EQ(ipIntToString(resolveIpInt("192.168.1.5")), "192.168.1.5");
    EXPECT_EQ(resolveIpInt("255.255.255.255"), 0u);
    EXPECT_TRUE(fakehost::lookedUp().empty());
}

TEST(ResolveIpInt, NamesAndTheLocalHost)
{
    planthost::use({"10.0.0.7", "192.168.1.5"});
    EXPECT_EQ(resolveIpInt(""), 0x0A000007u);  // the local host's first address
    EXPECT_EQ(resolveIpInt("plant-pc"), 0x0A000007u);
    EXPECT_EQ(resolveIpInt("no-such-host"), 0u);
    EXPECT_EQ(fakehost::lookedUp(), (std::vector<std::string>{"plant-pc", "plant-pc", "no-such-host"}));

    fakehost::Host failing = planthost::plantPc({"10.0.0.7"});
    failing.lookupFails = true;
    fakehost::set(failing);
    EXPECT_EQ(resolveIpInt(""), 0u);

    failing.lookupFails = false;
    failing.nameFails = true;
    fakehost::set(failing);
    EXPECT_EQ(resolveIpInt(""), 0u);
    EXPECT_TRUE(fakehost::lookedUp().empty());

    planthost::use({});
    EXPECT_EQ(resolveIpInt(""), 0u);
}

TEST(IpIntToString, FormatsEachOctet)
{
    EXPECT_EQ(ipIntToString(0), "0.0.0.0");
    EXPECT_EQ(ipIntToString(0xFFFFFFFFu), "255.255.255.255");
    EXPECT_EQ(ipIntToString(0x0A000007u), "10.0.0.7");
    EXPECT_EQ(formatString("%s", std::string(600, 'z').c_str()), std::string(511, 'z'));
}

TEST(GetNetOctsInt, LenientClassicConversion)
{
    recording::clearTrace();
    EXPECT_EQ(getNetOctsInt("192.168.1.20"), 0xC0A80114u);
    EXPECT_EQ(getNetOctsInt("0300.0250.01.024"), 0xC0A80114u);  // octal
    EXPECT_EQ(getNetOctsInt("0xC0.0xA8.0x1.0x14"), 0xC0A80114u);  // hexadecimal
    EXPECT_EQ(getNetOctsInt("10.1"), 0x0A000001u);  // shortened
    EXPECT_EQ(getNetOctsInt("not an address"), 0xFFFFFFFFu);
    EXPECT_EQ(recording::traceJoined(), "");  // a rejected text is not reported

    EXPECT_EQ(getNetOctsInt("0.0.0.0"), 0u);
    EXPECT_EQ(recording::traceJoined(), "*** ERROR   getNetOctsInt   (IpAddr == 0)\r\n");
}

TEST(ParseDottedQuad, AcceptsOnlyPlainDottedQuads)
{
    EXPECT_EQ(parseDottedQuad("192.168.1.5"), 0xC0A80105u);
    EXPECT_EQ(parseDottedQuad("0.0.0.0"), 0u);
    EXPECT_EQ(parseDottedQuad("255.255.255.255"), 0xFFFFFFFFu);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "01.2.3.4", "0x1.2.3.4", " 1.2.3.4",
                            "1.2.3.4 ", "1..3.4", "1.2.3.", "-1.2.3.4", "1234.1.1.1", "a.b.c.d"}) {
        EXPECT_THROW(parseDottedQuad(bad), std::invalid_argument) << bad;
    }
}

TEST(LocalInterfaces, CountAndTextFollowTheLookup)
{
    planthost::use({"10.0.0.7", "192.168.1.5", "172.16.0.9"});
    IdleServer server;
    EXPECT_EQ(server.mHostName.get(), "");

    recording::clearTrace();
    EXPECT_EQ(server.getNumIpAddresses(), 3);
    EXPECT_EQ(recording::traceJoined(),
              "Host name is [plant-pc]\nAddress [10.0.0.7]\nAddress [192.168.1.5]\nAddress [172.16.0.9]\n");
    EXPECT_EQ(server.mHostName.get(), "");  // counting does not store the name

    EXPECT_EQ(server.getIpAddressesXml(),
              "<localIpInterfaces><ipAddr>10.0.0.7</ipAddr><ipAddr>192.168.1.5</ipAddr>"
              "<ipAddr>172.16.0.9</ipAddr></localIpInterfaces>");
    EXPECT_EQ(server.mHostName.get(), "plant-pc");

    // A failed lookup: an empty list, and different words in the two traces.
    fakehost::Host failing = planthost::plantPc({"10.0.0.7"});
    failing.name = "renamed-pc";
    failing.lookupFails = true;
    fakehost::set(failing);
    recording::clearTrace();
    EXPECT_EQ(server.getNumIpAddresses(), 0);
    EXPECT_EQ(server.getIpAddressesXml(), "<localIpInterfaces></localIpInterfaces>");
    EXPECT_EQ(server.mHostName.get(), "renamed-pc");
    EXPECT_EQ(recording::traceJoined(),
              "Host name is [renamed-pc]\nYow! Bad host lookup.\n"
              "Host name is [renamed-pc]\nYikes! Bad host lookup.\n");

    // A failed name query keeps the last stored name.
    failing.nameFails = true;
    failing.nameError = 10093;
    fakehost::set(failing);
    recording::clearTrace();
    EXPECT_EQ(server.getIpAddressesXml(), "<localIpInterfaces></localIpInterfaces>");
    EXPECT_EQ(server.getNumIpAddresses(), 0);
    EXPECT_EQ(server.mHostName.get(), "renamed-pc");
    EXPECT_EQ(recording::traceJoined(),
              "Error [10093]  when getting local host name.\nError [10093]  when getting local host name.\n");
}
