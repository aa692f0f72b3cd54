// The three documents that the timer cycle sends to the Orvane server:
// keep-alive, status report and CPU alarm. Plain concatenations of fixed
// pieces and values; nothing is escaped.
#include "config/document_text.h"
#include "net/protocol.h"
#include "service/zq_server.h"

namespace zq {

namespace {

// What every document ends with: the CPU load, the operating system, the
// host's name, the version line and the closing tag.
void appendHostAndEnd(ZqServer& server, std::string& xml, ElementLayout layout, const char* closing)
{
    appendElement(xml, "cpuUsage", server.getCpuUsageText(), layout);
    appendElement(xml, "osDesc", server.getOsDescText(), layout);
    appendElement(xml, "hostName", server.mHostName.get(), layout);
    xml += "<wdVer>1.0</wdVer>\n";
    xml += closing;
}

}  // namespace

std::string ZqServer::getKeepAliveXml(const std::string& address)
{
    return buildDocument("ZqServer::getKeepAliveXml", [&](std::string& xml) {
        xml = "<wdKA>\n";
        appendElement(xml, "ipAddr", address);
        appendHostAndEnd(*this, xml, ElementLayout::line, "</wdKA>\n");
    });
}

std::string ZqServer::getReportXml(const std::string& address)
{
    return buildDocument("ZqServer::getReportXml", [&](std::string& xml) {
        xml = "<wdStatus>\n";
        xml += getIpAddressesXml();
        appendElement(xml, "ipAddr", address);
        appendElement(xml, "ipPort", kAgentPortText);
        appendHostAndEnd(*this, xml, ElementLayout::line, "</wdStatus>\n");
    });
}

// The alarm puts a line end after each opening tag.
std::string ZqServer::getAlarmXml()
{
    return buildDocument("ZqServer::getAlarmXml", [&](std::string& xml) {
        xml = "<CPU_ALARM>\n";
        xml += getIpAddressesXml();
        appendElement(xml, "ipPort", kAgentPortText, ElementLayout::openLine);
        appendHostAndEnd(*this, xml, ElementLayout::openLine, "</CPU_ALARM>\n");
    });
}

}  // namespace zq
