// IPv4 text conversions on Windows (Windows Sockets).
#include "net/host_lookup.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace inet {

std::uint32_t addr(const char* text)
{
    return static_cast<std::uint32_t>(::inet_addr(text));
}

std::string ntoa(std::uint32_t networkOrder)
{
    in_addr address{};
    address.s_addr = networkOrder;
    const char* text = ::inet_ntoa(address);
    return text ? std::string(text) : std::string();
}

std::uint32_t hostToNetwork(std::uint32_t value) { return htonl(value); }
std::uint32_t networkToHost(std::uint32_t value) { return ntohl(value); }

}  // namespace inet
