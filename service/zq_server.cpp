// The server object: construction, the run loop, stopping and destruction.
#include "service/zq_server.h"

#include <chrono>
#include <exception>
#include <thread>
#include <vector>

#include "hostinfo/os_description.h"
#include "trace/trace.h"

namespace zq {

ZqServer* gServer = nullptr;

ZqServer::ZqServer()
    : mUdpServer(new UdpZqServer(mIoService))
    , mMulticastReceiver(mIoService, kOrvaneGroup)
    , mMulticastReceiverCloud(mIoService, kCloudGroup)
    , mTimer(mIoService, std::chrono::seconds(5))
    , mAddressTimer(mIoService)
    , mNoticeTimer(mIoService)
    , mAddressWatch(mIoService)
{
    trace("==>  ZqServer::ZqServer\n");
    gServer = this;
    // Views of the agent see what the dialog's accessors give; the request
    // server calls this on the worker thread.
    mUdpServer->setViewSource([this] {
        ViewTexts texts;
        texts.cpuUsage = getCpuUsageText();
        texts.osDesc = getOsDescText();
        texts.hostName = mHostName.get();
        texts.commonLocalIps = mCommonLocalIps.get();
        texts.triggerText = mTriggerText.get();
        texts.orvane = mOrvaneServer.get();
        texts.cloud = mCloudServer.get();
        return texts;
    });
    try {
        getNumIpAddresses();

        // Take up to five local addresses, in the order of the host lookup,
        // and bind one sender to each.
        std::vector<boost::asio::ip::address_v4> addresses = lookUpLocalAddresses(true);
        mNumLocalAddresses = static_cast<int>(addresses.size());
        for (int k = 0; k < mNumLocalAddresses; ++k) {
            mSenderAddresses[k] = addresses[k];
            mLocalEndpoints[k] = Endpoint(addresses[k], kAgentPort);
        }
        for (int k = 0; k < mNumLocalAddresses; ++k)
            mSenders[k] = new UdpBoundSocket(mIoService, mLocalEndpoints[k]);
        start_timer();
        start_address_watch();
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
