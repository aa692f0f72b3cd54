// What both platforms' lookups take out of a gethostbyname result (a hostent
// of the platform's own headers).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace hostlookup {

// Appends the entry's IPv4 addresses (network byte order, in the order of its
// list). False, and nothing appended, when the entry is of another family
// than ipv4Family (AF_INET).
template <typename HostEntry>
bool appendIpv4Addresses(const HostEntry& entry, int ipv4Family, std::vector<std::uint32_t>& addresses)
{
    if (entry.h_addrtype != ipv4Family || entry.h_length != 4)
        return false;
    for (char** item = entry.h_addr_list; *item != nullptr; ++item) {
        std::uint32_t value;
        std::memcpy(&value, *item, sizeof value);
        addresses.push_back(value);
    }
    return true;
}

}  // namespace hostlookup
