// The service façade: start, state accessors and the stop sequence.
#include "service/zq_srv.h"

#include <chrono>

#include "hostinfo/os_description.h"
#include "trace/trace.h"

zq::ZqSrv* gSrv = nullptr;

namespace zq {

ZqSrv::ZqSrv()
{
    trace("ZqSrv::ZqSrv\n");
    gEventLog.append("\r BEFORE new zq::ZqServer()", "", "\r\n");
    mServer = new ZqServer();
    gEventLog.append("\r AFTER new zq::ZqServer()", "", "\r\n");
    trace("Num Local Ip/NICs=[%i]\n", mServer->getNumIpAddresses());
    try {
        ZqServer* server = mServer;
        mThread = std::make_shared<std::thread>([server] { server->run(); });
    } catch (...) {
        // The thread could not start: nothing runs the loop, so the server
        // can be destroyed at once.
        mServer->mRunExited.store(true);
        delete mServer;
        throw;
    }
    trace("All Started");
}

ZqSrv::~ZqSrv()
{
    trace("ZqSrv::~ZqSrv\n");
    if (mServer != nullptr) {
        mServer->stop();
        while (!mServer->runExited())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        delete mServer;
        mServer = nullptr;
    }
    // The worker has left the loop and ends by itself after its last trace
    // lines; it is released, not joined.
    if (mThread && mThread->joinable())
        mThread->detach();
    mThread.reset();
}

std::string ZqSrv::getCpuUsage() { return gSrv->mServer->getCpuUsageText(); }
std::string ZqSrv::getOsDesc() { return buildOsDescription(); }
std::string ZqSrv::getHostName() { return gSrv->mServer->mHostName.get(); }
std::string ZqSrv::getCommonLocalIps() { return gSrv->mServer->mCommonLocalIps.get(); }
std::string ZqSrv::getTriggerText() { return gSrv->mServer->mTriggerText.get(); }
std::string ZqSrv::getOrvane() { return gSrv->mServer->mOrvaneServer.get(); }
std::string ZqSrv::getCloud() { return gSrv->mServer->mCloudServer.get(); }
std::string ZqSrv::takeEventLog() { return gEventLog.take(); }
unsigned long ZqSrv::getAlarmsSent() { return gSrv->mServer->mAlarmsSent.load(); }
std::string ZqSrv::getLastAlarm() { return gSrv->mServer->mLastAlarm.get(); }

}  // namespace zq
