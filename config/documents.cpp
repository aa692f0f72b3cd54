// The three documents that the timer cycle sends to the Orvane server:
// keep-alive, status report and CPU alarm. Plain concatenations of fixed
// pieces and values; nothing is escaped.
#include "config/document_text.h"
#include "net/protocol.h"
#include "service/zq_server.h"

namespace zq {

namespace {
const char* const kVersionLine = "<wdVer>1.0</wdVer>\n";
}  // namespace

std::string ZqServer::getKeepAliveXml(const std::string& address)
{
    return buildDocument("ZqServer::getKeepAliveXml", [&](std::string& xml) {
        xml = "<wdKA>\n";
        appendElement(xml, "ipAddr", address);
        appendElement(xml, "cpuUsage", getCpuUsageText());
        appendElement(xml, "osDesc", getOsDescText());
        appendElement(xml, "hostName", mHostName.get());
        xml += kVersionLine;
        xml += "</wdKA>\n";
    });
}

std::string ZqServer::getReportXml(const std::string& address)
{
    return buildDocument("ZqServer::getReportXml", [&](std::string& xml) {
        xml = "<wdStatus>\n";
        xml += getIpAddressesXml();
        appendElement(xml, "ipAddr", address);
        appendElement(xml, "ipPort", kAgentPortText);
        appendElement(xml, "cpuUsage", getCpuUsageText());
        appendElement(xml, "osDesc", getOsDescText());
        appendElement(xml, "hostName", mHostName.get());
        xml += kVersionLine;
        xml += "</wdStatus>\n";
    });
}

// The alarm puts a line end after each opening tag.
std::string ZqServer::getAlarmXml()
{
    return buildDocument("ZqServer::getAlarmXml", [&](std::string& xml) {
        xml = "<CPU_ALARM>\n";
        xml += getIpAddressesXml();
        appendElement(xml, "ipPort", kAgentPortText, ElementLayout::openLine);
        appendElement(xml, "cpuUsage", getCpuUsageText(), ElementLayout::openLine);
        appendElement(xml, "osDesc", getOsDescText(), ElementLayout::openLine);
        appendElement(xml, "hostName", mHostName.get(), ElementLayout::openLine);
        xml += kVersionLine;
        xml += "</CPU_ALARM>\n";
    });
}

}  // namespace zq
