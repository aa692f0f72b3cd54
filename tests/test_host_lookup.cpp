// The real host-lookup layer against this machine.
#include <gtest/gtest.h>

#include <boost/asio/io_service.hpp>

#include "net/host_lookup.h"
#include "net/interface_order.h"

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

TEST(InterfaceOrder, RunningInterfacesOnHardwareComeFirstEachGroupInSystemOrder)
{
    using Device = hostlookup::InterfaceEntry::Device;
    // name, address, up, running, loopback, device; in the system's order.
    const std::vector<hostlookup::InterfaceEntry> host = {
        {"lo", inet::addr("127.0.0.1"), true, true, true, Device::absent},
        {"docker0", inet::addr("172.17.0.1"), true, true, false, Device::absent},
        {"veth9c1", inet::addr("169.254.3.1"), true, true, false, Device::unknown},  // virtual by its name
        {"enp3s0", inet::addr("10.20.0.5"), true, false, false, Device::present},    // no carrier
        {"plant0", inet::addr("192.168.1.5"), true, true, false, Device::unknown},   // not virtual by its name
        {"eno1", inet::addr("10.1.2.3"), true, true, false, Device::present},
    };
    std::vector<std::string> order;
    for (std::uint32_t address : hostlookup::preferredInterfaceAddresses(host))
        order.push_back(inet::ntoa(address));
    EXPECT_EQ(order, (std::vector<std::string>{"192.168.1.5", "10.1.2.3", "172.17.0.1", "169.254.3.1", "10.20.0.5"}));
}
