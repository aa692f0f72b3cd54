// The host's name and addresses on Windows: gethostname and gethostbyname of
// Windows Sockets, whose result is per-thread storage, copied out at once.
#include "net/host_lookup.h"

#include <cstring>
#include <winsock2.h>

namespace hostlookup {

bool localHostName(char* buffer, std::size_t size, int& error)
{
    if (::gethostname(buffer, static_cast<int>(size)) != 0) {
        error = ::WSAGetLastError();
        return false;
    }
    buffer[size - 1] = '\0';
    return true;
}

bool addressesOf(const char* name, std::vector<std::uint32_t>& addresses)
{
    addresses.clear();
    hostent* result = ::gethostbyname(name);
    if (result == nullptr)
        return false;
    if (result->h_addrtype != AF_INET || result->h_length != 4)
        return true;
    for (char** item = result->h_addr_list; *item != nullptr; ++item) {
        std::uint32_t value;
        std::memcpy(&value, *item, sizeof value);
        addresses.push_back(value);
    }
    return true;
}

}  // namespace hostlookup
