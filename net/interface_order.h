// Which of the host's interface addresses stand first for a host whose name
// resolves to loopback only: the ones a plant network is reached through.
// A pure function, free of the platform calls that list the interfaces
// (net/host_lookup_posix.cpp), so that the order can be tested on its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostlookup {

// One IPv4 address of an interface, as the system lists it.
struct InterfaceEntry {
    // Whether the interface sits on hardware of its own (a bus device), as
    // far as the system tells: unknown when it cannot be looked at.
    enum class Device { present, absent, unknown };

    std::string name;
    std::uint32_t address = 0;  // network byte order
    bool up = false;
    bool running = false;  // carrier: a cable plugged in, a link that is up
    bool loopback = false;
    Device device = Device::unknown;
};

// Whether an interface of this name is a virtual one (veth, bridge, docker,
// tun/tap, ...), for when its device cannot be looked at.
bool virtualByName(const std::string& name);

// The addresses of the interfaces that are up, loopback left out, each once:
// first those that are running and not virtual, then the rest, each group in
// the system's order.
std::vector<std::uint32_t> preferredInterfaceAddresses(const std::vector<InterfaceEntry>& entries);

}  // namespace hostlookup
