// The real host-lookup layer against this machine.
#include <gtest/gtest.h>

#include <boost/asio/io_service.hpp>

#include "net/host_lookup.h"

namespace {
// Holds the platform's sockets started (Windows Sockets needs it).
boost::asio::io_service gSockets;
}  // namespace

TEST(HostLookup, LocalNameAndLoopbackName)
{
    char name[80];
    int error = -1;
    ASSERT_TRUE(hostlookup::localHostName(name, sizeof name, error));
    EXPECT_GT(std::string(name).size(), 0u);

    std::vector<std::uint32_t> addresses;
    ASSERT_TRUE(hostlookup::addressesOf("localhost", addresses));
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(inet::ntoa(addresses.front()).rfind("127.", 0), 0u);

    EXPECT_FALSE(hostlookup::addressesOf("no-such-host.invalid", addresses));
}

TEST(Inet, ClassicConversions)
{
    EXPECT_EQ(inet::networkToHost(inet::addr("192.168.1.5")), 0xC0A80105u);
    EXPECT_EQ(inet::networkToHost(inet::addr("0xC0.0250.1.5")), 0xC0A80105u);
    EXPECT_EQ(inet::addr("bogus"), 0xFFFFFFFFu);
    EXPECT_EQ(inet::ntoa(inet::hostToNetwork(0x0A000007u)), "10.0.0.7");
}
