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
    const Device hw = Device::present, none = Device::absent, unknown = Device::unknown;
    // name, address, up, running, loopback, device; in the system's order.
    const std::vector<hostlookup::InterfaceEntry> host = {
        {"lo", inet::addr("127.0.0.1"), true, true, true, none},
        {"docker0", inet::addr("172.17.0.1"), true, true, false, none},
        {"br-4f2a", inet::addr("172.18.0.1"), true, true, false, unknown},
        {"veth9c1", inet::addr("169.254.3.1"), true, true, false, unknown},
        {"enp3s0", inet::addr("10.20.0.5"), true, false, false, hw},       // no cable
        {"tun0", inet::addr("10.8.0.2"), true, true, false, none},
        {"dummy0", inet::addr("10.99.0.1"), true, true, false, unknown},
        {"wlp2s0", inet::addr("10.30.0.5"), false, false, false, hw},     // down
        {"plant0", inet::addr("192.168.1.5"), true, true, false, unknown}, // renamed, sysfs not ours
        {"eno1", inet::addr("10.1.2.3"), true, true, false, hw},
        {"eno1", inet::addr("10.1.2.3"), true, true, false, hw},           // listed twice
        {"eth1", inet::addr("127.0.1.1"), true, true, false, hw},
    };
    std::vector<std::string> order;
    for (std::uint32_t address : hostlookup::preferredInterfaceAddresses(host))
        order.push_back(inet::ntoa(address));
    EXPECT_EQ(order, (std::vector<std::string>{"192.168.1.5", "10.1.2.3", "172.17.0.1", "172.18.0.1", "169.254.3.1",
                                               "10.20.0.5", "10.8.0.2", "10.99.0.1"}));

    // The name decides only where the device cannot be looked at.
    for (const char* name : {"veth0", "br0", "docker0", "virbr0", "tap3", "tun0", "dummy1", "wg0", "vnet2"})
        EXPECT_TRUE(hostlookup::virtualByName(name)) << name;
    for (const char* name : {"eth0", "eno1", "enp3s0", "wlan0", "ens192", "plant0"})
        EXPECT_FALSE(hostlookup::virtualByName(name)) << name;
}
