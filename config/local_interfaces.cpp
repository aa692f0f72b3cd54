// The host's own name and IPv4 addresses, as a count and as the
// local-interfaces text of the documents. Nothing is cached: every call asks
// the host again, so the documents always carry the current addresses.
#include "config/document_text.h"
#include "net/host_lookup.h"
#include "service/zq_server.h"
#include "trace/trace.h"

namespace zq {

int ZqServer::getNumIpAddresses()
{
    int count = 0;
    runGuarded("ZqServer::getNumIpAddresses", [&] {
        hostlookup::OwnHost host = hostlookup::lookUpOwnHost(hostlookup::kHostNameSize);
        if (!host.nameFound) {
            trace("Error [%i]  when getting local host name.\n", host.nameError);
            return;
        }
        trace("Host name is [%s]\n", host.name.c_str());
        if (!host.addressesFound) {
            trace("Yow! Bad host lookup.\n");
            return;
        }
        for (std::uint32_t address : host.addresses) {
            trace("Address [%s]\n", inet::ntoa(address).c_str());
            ++count;
        }
    });
    return count;
}

std::string ZqServer::getIpAddressesXml()
{
    return buildText("ZqServer::getIpAddressesXml", [&](std::string& xml) {
        xml = "<localIpInterfaces>";
        hostlookup::OwnHost host = hostlookup::lookUpOwnHost(hostlookup::kHostNameSize);
        if (!host.nameFound) {
            trace("Error [%i]  when getting local host name.\n", host.nameError);
        } else {
            mHostName.set(host.name);
            trace("Host name is [%s]\n", host.name.c_str());
            if (!host.addressesFound) {
                trace("Yikes! Bad host lookup.\n");
            } else {
                for (std::uint32_t address : host.addresses) {
                    std::string dotted = inet::ntoa(address);
                    trace("Address [%s]\n", dotted.c_str());
                    appendElement(xml, "ipAddr", dotted, ElementLayout::inlined);
                }
            }
        }
        xml += "</localIpInterfaces>";
    });
}

}  // namespace zq
