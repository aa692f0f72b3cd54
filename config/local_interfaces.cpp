// The host's own name and IPv4 addresses, as a count and as the
// local-interfaces text of the documents. Nothing is cached: every call asks
// the host again, so the documents always carry the current addresses.
#include <vector>

#include "app/trace.h"
#include "net/host_lookup.h"
#include "service/zq_server.h"

namespace zq {

int ZqServer::getNumIpAddresses()
{
    int count = 0;
    try {
        char hostName[80];
        int error = 0;
        if (!hostlookup::localHostName(hostName, sizeof hostName, error)) {
            trace("Error [%i]  when getting local host name.\n", error);
            return 0;
        }
        trace("Host name is [%s]\n", hostName);
        std::vector<std::uint32_t> addresses;
        if (!hostlookup::addressesOf(hostName, addresses)) {
            trace("Yow! Bad host lookup.\n");
            return 0;
        }
        for (std::uint32_t address : addresses) {
            trace("Address [%s]\n", inet::ntoa(address).c_str());
            ++count;
        }
    } catch (...) {
        noteException("ZqServer::getNumIpAddresses");
    }
    return count;
}

std::string ZqServer::getIpAddressesXml()
{
    std::string result;
    try {
        result = "<localIpInterfaces>";
        char hostName[80];
        int error = 0;
        if (!hostlookup::localHostName(hostName, sizeof hostName, error)) {
            trace("Error [%i]  when getting local host name.\n", error);
            result += "</localIpInterfaces>";
            return result;
        }
        mHostName.set(hostName);
        trace("Host name is [%s]\n", hostName);
        std::vector<std::uint32_t> addresses;
        if (!hostlookup::addressesOf(hostName, addresses)) {
            trace("Yikes! Bad host lookup.\n");
            result += "</localIpInterfaces>";
            return result;
        }
        for (std::uint32_t address : addresses) {
            std::string dotted = inet::ntoa(address);
            trace("Address [%s]\n", dotted.c_str());
            result += "<ipAddr>";
            result += dotted;
            result += "</ipAddr>";
        }
        result += "</localIpInterfaces>";
    } catch (...) {
        noteException("ZqServer::getIpAddressesXml");
    }
    return result;
}

}  // namespace zq
