// The host's name and addresses on Linux: gethostname and gethostbyname_r, the
// reentrant form, so that the two threads never share a result buffer, and
// the interfaces' addresses from getifaddrs, with sysfs telling the
// interfaces on hardware from the virtual ones.
#include "net/host_lookup.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/host_entry.h"
#include "net/interface_order.h"

namespace hostlookup {

namespace {

bool isLoopback(std::uint32_t networkOrder)
{
    return (ntohl(networkOrder) >> 24) == 127;
}

// Whether the interface has a bus device behind it (/sys/class/net/NAME/
// device): virtual interfaces have none. Unknown when sysfs shows another
// network namespace than ours (mounted before an unshare), which its
// interface index gives away.
InterfaceEntry::Device deviceOf(const char* name)
{
    const std::string directory = std::string("/sys/class/net/") + name;
    std::ifstream indexFile(directory + "/ifindex");
    unsigned index = 0;
    if (std::strchr(name, '/') != nullptr || !(indexFile >> index) || index != ::if_nametoindex(name))
        return InterfaceEntry::Device::unknown;
    return ::access((directory + "/device").c_str(), F_OK) == 0 ? InterfaceEntry::Device::present
                                                                : InterfaceEntry::Device::absent;
}

}  // namespace

bool localHostName(char* buffer, std::size_t size, int& error)
{
    if (::gethostname(buffer, size) != 0) {
        error = errno;
        return false;
    }
    buffer[size - 1] = '\0';
    return true;
}

bool addressesOf(const char* name, std::vector<std::uint32_t>& addresses)
{
    addresses.clear();
    hostent entry{};
    hostent* result = nullptr;
    int lookupError = 0;
    std::vector<char> work(2048);
    for (;;) {
        int rc = ::gethostbyname_r(name, &entry, work.data(), work.size(), &result, &lookupError);
        if (rc == ERANGE && work.size() < (1u << 20)) {
            work.resize(work.size() * 2);
            continue;
        }
        if (rc != 0 || result == nullptr)
            return false;
        break;
    }
    if (!appendIpv4Addresses(*result, AF_INET, addresses))
        return true;
    // The name of a stock Debian host is 127.0.1.1 in /etc/hosts: then the
    // addresses of its interfaces stand for it.
    if (std::all_of(addresses.begin(), addresses.end(), isLoopback)) {
        std::vector<std::uint32_t> interfaces = interfaceAddresses();
        if (!interfaces.empty())
            addresses = interfaces;
    }
    return true;
}

std::vector<std::uint32_t> interfaceAddresses()
{
    std::vector<InterfaceEntry> entries;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    for (ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
        if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET)
            continue;
        InterfaceEntry entry;
        entry.name = item->ifa_name;
        sockaddr_in address;
        std::memcpy(&address, item->ifa_addr, sizeof address);
        entry.address = address.sin_addr.s_addr;
        entry.up = (item->ifa_flags & IFF_UP) != 0;
        entry.running = (item->ifa_flags & IFF_RUNNING) != 0;
        entry.loopback = (item->ifa_flags & IFF_LOOPBACK) != 0;
        if (entry.up && !entry.loopback)
            entry.device = deviceOf(item->ifa_name);
        entries.push_back(entry);
    }
    ::freeifaddrs(list);
    return preferredInterfaceAddresses(entries);
}

}  // namespace hostlookup
