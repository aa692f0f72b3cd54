// The host's own name and addresses, and the classic IPv4 text conversions.
//
// hostlookup:: is a platform seam (gethostname and gethostbyname); tests link a
// scripted host in its place. inet:: is always the platform's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostlookup {

// gethostname into buffer (size bytes, zero-terminated). On failure returns
// false and sets error to the platform's socket error code.
bool localHostName(char* buffer, std::size_t size, int& error);

// gethostbyname: on success the host's IPv4 addresses in network byte order,
// in the order of the lookup's address list. The result is copied out whole.
// On Linux, where a host's own name usually resolves to loopback only
// (127.0.1.1 in /etc/hosts), a lookup that yields nothing outside 127.0.0.0/8
// yields the interface addresses below instead, when there are any: what
// the lookup of its own name gives on Windows.
bool addressesOf(const char* name, std::vector<std::uint32_t>& addresses);

// The IPv4 addresses of the interfaces that are up, loopback left out, in
// network byte order. Empty when there are none or they cannot be listed.
// On Linux those of interfaces that are running and not virtual come first
// (net/interface_order.h), so that the five addresses taken for a name that
// resolves to loopback are the plant network's rather than a container
// bridge's; otherwise in interface order.
std::vector<std::uint32_t> interfaceAddresses();

// What the lookup of the host's own name gives: the name, as gethostname
// gives it into a buffer of the caller's size, and that name's addresses.
struct OwnHost {
    bool nameFound = false;
    int nameError = 0;  // when the name was not found: the platform's socket error code
    std::string name;
    bool addressesFound = false;          // whether the lookup of the name succeeded
    std::vector<std::uint32_t> addresses;  // network byte order, in the lookup's order
};

// The name buffer of the documents and of the server's own addresses.
constexpr std::size_t kHostNameSize = 80;

// localHostName into nameSize bytes, then, when that succeeded, addressesOf
// the name. Built on the two calls above, so a test's scripted host serves it.
inline OwnHost lookUpOwnHost(std::size_t nameSize)
{
    OwnHost host;
    std::vector<char> buffer(nameSize);
    host.nameFound = localHostName(buffer.data(), buffer.size(), host.nameError);
    if (host.nameFound) {
        host.name = buffer.data();
        host.addressesFound = addressesOf(host.name.c_str(), host.addresses);
    }
    return host;
}

}  // namespace hostlookup

namespace inet {

// inet_addr: the classic lenient conversion (shortened, octal and hexadecimal
// forms accepted); network byte order; all ones for a rejected text.
std::uint32_t addr(const char* text);

// inet_ntoa of an address in network byte order.
std::string ntoa(std::uint32_t networkOrder);

std::uint32_t hostToNetwork(std::uint32_t value);
std::uint32_t networkToHost(std::uint32_t value);

}  // namespace inet
