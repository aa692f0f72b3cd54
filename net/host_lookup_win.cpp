// The host's name and addresses on Windows: gethostname and gethostbyname of
// Windows Sockets, whose result is per-thread storage, copied out at once,
// and the interfaces' addresses from the IP Helper.
#include "net/host_lookup.h"

#include <algorithm>
#include <cstring>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include "net/host_entry.h"

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
    appendIpv4Addresses(*result, AF_INET, addresses);
    return true;
}

std::vector<std::uint32_t> interfaceAddresses()
{
    std::vector<std::uint32_t> addresses;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG size = static_cast<ULONG>(buffer.size());
    ULONG rc = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        rc = ::GetAdaptersAddresses(AF_INET, flags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        if (rc != ERROR_BUFFER_OVERFLOW)
            break;
        buffer.resize(size);
    }
    if (rc != NO_ERROR)
        return addresses;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
            const SOCKADDR* socketAddress = unicast->Address.lpSockaddr;
            if (socketAddress == nullptr || socketAddress->sa_family != AF_INET)
                continue;
            sockaddr_in address;
            std::memcpy(&address, socketAddress, sizeof address);
            std::uint32_t value = address.sin_addr.s_addr;
            if ((ntohl(value) >> 24) != 127 &&
                std::find(addresses.begin(), addresses.end(), value) == addresses.end())
                addresses.push_back(value);
        }
    }
    return addresses;
}

}  // namespace hostlookup
