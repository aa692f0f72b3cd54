// The server object: construction, the run loop, stopping and destruction.
#include "service/zq_server.h"

#include <chrono>
#include <exception>
#include <thread>
#include <vector>

#include "app/trace.h"
#include "hostinfo/os_description.h"
#include "net/host_lookup.h"

namespace zq {

ZqServer* gServer = nullptr;

ZqServer::ZqServer()
    : mUdpServer(new UdpZqServer(mIoService))
    , mMulticastReceiver(mIoService, "224.0.1.224")
    , mMulticastReceiverCloud(mIoService, "224.0.2.224")
    , mTimer(mIoService, boost::posix_time::seconds(5))
{
    trace("==>  ZqServer::ZqServer\n");
    gServer = this;
    try {
        getNumIpAddresses();

        // Take up to five local addresses, in the order of the host lookup.
        int taken = 0;
        char hostName[80];
        int error = 0;
        std::vector<std::uint32_t> addresses;
        if (!hostlookup::localHostName(hostName, sizeof hostName, error)) {
            trace("Error [%i]  when getting local host name.\n", error);
        } else if (!hostlookup::addressesOf(hostName, addresses)) {
            trace("Yikes! Bad host lookup.\n");
        } else {
            for (std::uint32_t address : addresses) {
                if (taken == kMaxPairs)
                    break;
                trace("Address [%s]\n", inet::ntoa(address).c_str());
                mLocalEndpoints[taken] =
                    Endpoint(boost::asio::ip::address_v4(inet::networkToHost(address)), kAgentPort);
                ++taken;
            }
        }
        for (int k = 0; k < taken; ++k)
            mSenders[k] = new UdpBoundSocket(mIoService, mLocalEndpoints[k]);
        start_timer();
    } catch (...) {
        noteException("ZqServer::ZqServer");
    }
    trace("<==  ZqServer::ZqServer\n");
}

ZqServer::~ZqServer()
{
    trace("ZqServer::~ZqServer\n");
    while (!mRunExited.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The loop has ended: the endpoints created here go before the I/O
    // service they were made on.
    for (UdpBoundSocket*& sender : mSenders) {
        delete sender;
        sender = nullptr;
    }
    delete mUdpServer;
    mUdpServer = nullptr;
}

void ZqServer::run()
{
    trace("==>  ZqServer::run\n");
    try {
        mIoService.run();
    } catch (...) {
        noteException("ZqServer::run");
        mRunExited.store(true);
        return;
    }
    // Nothing of this object is touched once the flag is set: the façade may
    // destroy it from then on.
    mRunExited.store(true);
    trace("ZqServer::run HAS EXITED CORRECTLY\n");
    trace("<==  ZqServer::run\n");
}

void ZqServer::stop()
{
    trace("ZqServer::stop\n");
    mIoService.post([this] { handle_stop(); });
}

void ZqServer::handle_stop()
{
    trace("ZqServer::handle_stop\n");
    mIoService.stop();
}

std::string ZqServer::getCpuUsageText() const
{
    return std::to_string(mCpuUsage.load());
}

std::string ZqServer::getOsDescText()
{
    if (mOsDesc.empty())
        mOsDesc = buildOsDescription();
    return mOsDesc;
}

}  // namespace zq
