// The three documents that the timer cycle sends to the Orvane server:
// keep-alive, status report and CPU alarm. Plain concatenations of fixed
// pieces and values; nothing is escaped.
#include "app/trace.h"
#include "service/zq_server.h"

namespace zq {

namespace {
const char* const kVersionLine = "<wdVer>1.0</wdVer>\n";
const char* const kAgentPortText = "34543";
}  // namespace

std::string ZqServer::getKeepAliveXml(const std::string& address)
{
    trace("==>  ZqServer::getKeepAliveXml\n");
    std::string xml;
    try {
        xml = "<wdKA>\n";
        xml += "<ipAddr>";
        xml += address;
        xml += "</ipAddr>\n";
        xml += "<cpuUsage>";
        xml += getCpuUsageText();
        xml += "</cpuUsage>\n";
        xml += "<osDesc>";
        xml += getOsDescText();
        xml += "</osDesc>\n";
        xml += "<hostName>";
        xml += mHostName.get();
        xml += "</hostName>\n";
        xml += kVersionLine;
        xml += "</wdKA>\n";
    } catch (...) {
        noteException("ZqServer::getKeepAliveXml");
        return xml;
    }
    trace("<==  ZqServer::getKeepAliveXml\n");
    return xml;
}

std::string ZqServer::getReportXml(const std::string& address)
{
    trace("==>  ZqServer::getReportXml\n");
    std::string xml;
    try {
        xml = "<wdStatus>\n";
        xml += getIpAddressesXml();
        xml += "<ipAddr>";
        xml += address;
        xml += "</ipAddr>\n";
        xml += "<ipPort>";
        xml += kAgentPortText;
        xml += "</ipPort>\n";
        xml += "<cpuUsage>";
        xml += getCpuUsageText();
        xml += "</cpuUsage>\n";
        xml += "<osDesc>";
        xml += getOsDescText();
        xml += "</osDesc>\n";
        xml += "<hostName>";
        xml += mHostName.get();
        xml += "</hostName>\n";
        xml += kVersionLine;
        xml += "</wdStatus>\n";
    } catch (...) {
        noteException("ZqServer::getReportXml");
        return xml;
    }
    trace("<==  ZqServer::getReportXml\n");
    return xml;
}

std::string ZqServer::getAlarmXml()
{
    trace("==>  ZqServer::getAlarmXml\n");
    std::string xml;
    try {
        xml = "<CPU_ALARM>\n";
        xml += getIpAddressesXml();
        xml += "<ipPort>\n";
        xml += kAgentPortText;
        xml += "</ipPort>\n";
        xml += "<cpuUsage>\n";
        xml += getCpuUsageText();
        xml += "</cpuUsage>\n";
        xml += "<osDesc>\n";
        xml += getOsDescText();
        xml += "</osDesc>\n";
        xml += "<hostName>\n";
        xml += mHostName.get();
        xml += "</hostName>\n";
        xml += kVersionLine;
        xml += "</CPU_ALARM>\n";
    } catch (...) {
        noteException("ZqServer::getAlarmXml");
        return xml;
    }
    trace("<==  ZqServer::getAlarmXml\n");
    return xml;
}

}  // namespace zq
