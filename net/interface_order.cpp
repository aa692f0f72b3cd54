// The order of the interface addresses that stand for a host's own name.
#include "net/interface_order.h"

#include <algorithm>

namespace hostlookup {

namespace {

bool isLoopbackAddress(std::uint32_t networkOrder)
{
    // The first octet is the first byte in memory, whatever the host's order.
    return reinterpret_cast<const unsigned char*>(&networkOrder)[0] == 127;
}

bool isVirtual(const InterfaceEntry& entry)
{
    if (entry.device != InterfaceEntry::Device::unknown)
        return entry.device == InterfaceEntry::Device::absent;
    return virtualByName(entry.name);
}

}  // namespace

bool virtualByName(const std::string& name)
{
    // The names that the kernel, container runtimes, hypervisors and VPNs
    // give their interfaces by default.
    static const char* const kPrefixes[] = {"veth", "br",  "docker", "virbr", "vnet",    "tun",      "tap",
                                            "dummy", "lxc", "lxd",    "cni",   "flannel", "cali",     "weave",
                                            "vxlan", "wg",  "zt",     "tailscale", "vboxnet", "vmnet", "podman",
                                            "kube",  "genev", "nlmon", "ifb"};
    for (const char* prefix : kPrefixes) {
        if (name.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

std::vector<std::uint32_t> preferredInterfaceAddresses(const std::vector<InterfaceEntry>& entries)
{
    std::vector<std::uint32_t> preferred;
    std::vector<std::uint32_t> rest;
    auto taken = [&](std::uint32_t address) {
        return std::find(preferred.begin(), preferred.end(), address) != preferred.end() ||
               std::find(rest.begin(), rest.end(), address) != rest.end();
    };
    for (const InterfaceEntry& entry : entries) {
        if (!entry.up || entry.loopback || isLoopbackAddress(entry.address) || taken(entry.address))
            continue;
        if (entry.running && !isVirtual(entry))
            preferred.push_back(entry.address);
        else
            rest.push_back(entry.address);
    }
    preferred.insert(preferred.end(), rest.begin(), rest.end());
    return preferred;
}

}  // namespace hostlookup
