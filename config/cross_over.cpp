// Applies an Orvane configuration message: pairs every local IPv4 address with
// every server address on a common network (same first three octets), and
// stores the server's port and the CPU alarm settings.
#include <vector>

#include "config/ip_utils.h"
#include "config/xml_value.h"
#include "service/zq_server.h"
#include "trace/trace.h"

namespace zq {

namespace {

// Reads up to five values of a repeated element in text order. An empty
// element ends the list.
std::vector<std::string> scanValues(const std::string& tag, const std::string& text, const char* listName)
{
    std::vector<std::string> values;
    std::string::size_type position = 0;
    for (;;) {
        std::string value = getXmlValue(tag, text, position);
        if (value.empty() || values.size() == static_cast<std::size_t>(kMaxPairs))
            break;
        values.push_back(value);
        trace("Add to %s list [%s]\n", listName, value.c_str());
    }
    return values;
}

}  // namespace

void ZqServer::setCrossOver(const std::string& payload)
{
    if (gServer == nullptr)
        return;
    // It runs inside a receiver's completion handler: whatever escaped it
    // (memory running out while the message is kept, or while a failure is
    // noted) would end the I/O loop for good.
    try {
        // Kept, to be applied again when the host's addresses change.
        gServer->mLastConfig = payload;
        gServer->mHaveLastConfig = true;
        gServer->applyCrossOver(payload);
    } catch (...) {
        try {
            noteException("ZqServer::setCrossOver");
        } catch (...) {
            // Not even the note could be written; the agent goes on.
        }
    }
}

void ZqServer::applyCrossOver(const std::string& payload)
{
    trace("==>  ZqServer::setCrossOver\n");
    // The dialog's thread copies the list of common addresses: it is built
    // here and published whole, so a reader sees the old list or the new one.
    std::string commonLocalIps;
    bool listReplaced = false;
    try {
        std::vector<std::string> localList =
            scanValues("<ipAddr>", getIpAddressesXml(), "Local");
        std::vector<std::string> serverList = scanValues("<srvIpAddr>", payload, "Server");

        listReplaced = true;
        mNumPairs = 0;
        for (std::size_t i = 0; i < localList.size(); ++i) {
            const std::string& local = localList[i];
            for (std::size_t j = 0; j < serverList.size(); ++j) {
                const std::string& server = serverList[j];
                std::uint32_t localNet = getNetOctsInt(local) & 0xFFFFFF00u;
                std::uint32_t serverNet = getNetOctsInt(server) & 0xFFFFFF00u;
                trace("TEST [%s][%u] ? [%u][%s]\n", local.c_str(), localNet, serverNet, server.c_str());
                if (localNet != serverNet)
                    continue;
                // The pair table is full: further matches are left out, so
                // the dialog lists exactly the recorded pairs.
                if (mNumPairs == kMaxPairs)
                    continue;
                trace("FOUND A COMMON NETWORK [%i] [%i]\n", static_cast<int>(i), static_cast<int>(j));
                if (!commonLocalIps.empty())
                    commonLocalIps += ",  ";
                commonLocalIps += local;
                mRemotePort = getXmlIntValue("<srvIpPort>", payload);
                trace("SETTING COMMON NETWORK [%s] [%s]\n", local.c_str(), server.c_str());
                unsigned short port = static_cast<unsigned short>(mRemotePort & 0xFFFF);
                Endpoint localEndpoint(boost::asio::ip::address_v4(parseDottedQuad(local)), port);
                Endpoint serverEndpoint(boost::asio::ip::address_v4(parseDottedQuad(server)), port);
                mLocalEndpoints[mNumPairs] = localEndpoint;
                mRemoteEndpoints[mNumPairs] = serverEndpoint;
                ++mNumPairs;
            }
        }
        mCommonLocalIps.set(commonLocalIps);
        mConfigured = true;
        mAlarmPercent = getXmlIntValue("<cpuPercent>", payload);
        mAlarmSeconds = getXmlIntValue("<alarmSeconds>", payload);
        mTriggerText.set(std::to_string(mAlarmPercent) + "%:" + std::to_string(mAlarmSeconds) + "s");
        trace("mRemotePort=[%i]  mAlarmPercent=[%i]  mAlarmSeconds=[%i]\n", mRemotePort, mAlarmPercent,
              mAlarmSeconds);
    } catch (...) {
        if (listReplaced)
            mCommonLocalIps.set(commonLocalIps);
        noteException("ZqServer::setCrossOver");
    }
    trace("<==  ZqServer::setCrossOver\n");
}

}  // namespace zq
