// The Linux host-lookup layer's stand-in for a host name that resolves to
// loopback only: the addresses of the interfaces that are up, running ones
// first. Runs in the
// test program's private network namespace, where it adds its own links.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/host_lookup.h"
#include "support/only_loopback.h"

namespace {

std::vector<std::string> dotted(const std::vector<std::uint32_t>& addresses)
{
    std::vector<std::string> result;
    for (std::uint32_t address : addresses)
        result.push_back(inet::ntoa(address));
    return result;
}

}  // namespace

TEST(HostLookupLinux, ALoopbackNameStandsForTheInterfacesThatAreUp)
{
    ASSERT_TRUE(onlyLoopback()) << "runs only in a private network namespace";
    std::vector<std::uint32_t> addresses;

    // Loopback only: nothing stands in, the lookup's own answer stays.
    EXPECT_TRUE(hostlookup::interfaceAddresses().empty());
    ASSERT_TRUE(hostlookup::addressesOf("localhost", addresses));
    ASSERT_FALSE(addresses.empty());
    for (const std::string& address : dotted(addresses))
        EXPECT_EQ(address.rfind("127.", 0), 0u) << address;

    // One interface up but without carrier (its peer down), listed first;
    // one up and running; one with an address but down.
    ASSERT_EQ(std::system("ip link add zq-h4 type veth peer name zq-h5 && ip addr add 10.9.4.1/24 dev zq-h4 && "
                          "ip link set zq-h4 up && "
                          "ip link add zq-h0 type veth peer name zq-h1 && ip addr add 10.9.1.1/24 dev zq-h0 && "
                          "ip link set zq-h1 up && ip link set zq-h0 up && "
                          "ip link add zq-h2 type veth peer name zq-h3 && ip addr add 10.9.2.1/24 dev zq-h2"),
              0);
    // The running one first.
    const std::vector<std::string> upAndRunningFirst = {"10.9.1.1", "10.9.4.1"};
    EXPECT_EQ(dotted(hostlookup::interfaceAddresses()), upAndRunningFirst);
    ASSERT_TRUE(hostlookup::addressesOf("localhost", addresses));
    EXPECT_EQ(dotted(addresses), upAndRunningFirst);

    // A name with an address outside loopback keeps its own answer.
    ASSERT_TRUE(hostlookup::addressesOf("10.1.2.3", addresses));
    EXPECT_EQ(dotted(addresses), std::vector<std::string>{"10.1.2.3"});
    // A failed lookup stays a failure.
    EXPECT_FALSE(hostlookup::addressesOf("no-such-host.invalid", addresses));

    EXPECT_EQ(std::system("ip link del zq-h0 && ip link del zq-h2 && ip link del zq-h4"), 0);
}
