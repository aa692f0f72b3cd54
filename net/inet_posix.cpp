// IPv4 text conversions on POSIX systems (arpa/inet.h).
#include "net/host_lookup.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace inet {

std::uint32_t addr(const char* text)
{
    return static_cast<std::uint32_t>(::inet_addr(text));
}

std::string ntoa(std::uint32_t networkOrder)
{
    char buffer[INET_ADDRSTRLEN];
    in_addr address{};
    address.s_addr = networkOrder;
    // inet_ntop rather than inet_ntoa: same text, no shared static buffer.
    if (::inet_ntop(AF_INET, &address, buffer, sizeof buffer) == nullptr)
        return std::string();
    return buffer;
}

std::uint32_t hostToNetwork(std::uint32_t value) { return htonl(value); }
std::uint32_t networkToHost(std::uint32_t value) { return ntohl(value); }

}  // namespace inet
