// The host's name and addresses on Linux: gethostname and gethostbyname_r, the
// reentrant form, so that the two threads never share a result buffer.
#include "net/host_lookup.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hostlookup {

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
