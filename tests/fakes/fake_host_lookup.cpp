#include <cstring>
#include <mutex>

#include "fakes/fake_host.h"
#include "net/host_lookup.h"

namespace {
std::mutex gMutex;
fakehost::Host gHost;
std::vector<std::string> gLookedUp;
}  // namespace

namespace fakehost {

void set(const Host& host)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gHost = host;
    gLookedUp.clear();
}

Host get()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gHost;
}

std::vector<std::string> lookedUp()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gLookedUp;
}

}  // namespace fakehost

namespace hostlookup {

bool localHostName(char* buffer, std::size_t size, int& error)
{
    std::lock_guard<std::mutex> lock(gMutex);
    if (gHost.nameFails) {
        error = gHost.nameError;
        return false;
    }
    std::strncpy(buffer, gHost.name.c_str(), size - 1);
    buffer[size - 1] = '\0';
    return true;
}

bool addressesOf(const char* name, std::vector<std::uint32_t>& addresses)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gLookedUp.emplace_back(name);
    addresses.clear();
    if (gHost.lookupFails || name != gHost.name)
        return false;
    for (const std::string& dotted : gHost.addresses)
        addresses.push_back(inet::addr(dotted.c_str()));
    return true;
}

std::vector<std::uint32_t> interfaceAddresses()
{
    std::lock_guard<std::mutex> lock(gMutex);
    std::vector<std::uint32_t> addresses;
    for (const std::string& dotted : gHost.interfaces)
        addresses.push_back(inet::addr(dotted.c_str()));
    return addresses;
}

}  // namespace hostlookup
