// The agent's heartbeat: once a second the server counts a tick, sends a
// keep-alive every 30 ticks and a status report every 600 ticks (and once
// right after the first usable configuration) over every common-network pair,
// samples the CPU load, and sends a CPU alarm when the load has stayed at or
// above the threshold for the configured number of ticks, at most once every
// 180 ticks.
#include <chrono>

#include "service/zq_server.h"
#include "trace/trace.h"

namespace zq {

namespace {
constexpr int kKeepAliveTicks = 30;
constexpr int kReportTicks = 600;
constexpr int kAlarmHoldoffTicks = 180;
// A schedule that has fallen further behind than this (a stall, a resume
// from sleep) starts again from the present instead of catching up.
constexpr auto kMostBehind = std::chrono::seconds(5);

std::string addressText(const boost::asio::ip::udp::endpoint& endpoint)
{
    return endpoint.address().to_string();
}
}  // namespace

void ZqServer::start_timer()
{
    mTimerRunning = true;
    mTimerSeconds = 1;
    mTimer.expires_at(mTimer.expiry() + std::chrono::seconds(mTimerSeconds));
    mTimer.async_wait([this](const boost::system::error_code&) { on_timer(); });
}

void ZqServer::on_timer()
{
    if (!mTimerRunning)
        return;
    {
        TraceBatch batch;
        handle_timer();
    }
    // The next expiry follows the previous one, not the present time: the
    // ticks keep a fixed schedule, and ticks that fell due while one ran late
    // follow at once. After a long stall the missed ticks are dropped
    // instead: an hour would otherwise be 3600 ticks in a burst.
    TickClock::time_point next = mTimer.expiry() + std::chrono::seconds(mTimerSeconds);
    TickClock::time_point now = TickClock::now();
    if (now - next > kMostBehind) {
        trace("ZqServer::on_timer  schedule [%lld] s behind, restarted from now\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(now - next).count()));
        next = now + std::chrono::seconds(mTimerSeconds);
    }
    mTimer.expires_at(next);
    mTimer.async_wait([this](const boost::system::error_code&) { on_timer(); });
}

UdpBoundSocket* ZqServer::senderFor(int pair) const
{
    const boost::asio::ip::address& local = mLocalEndpoints[pair].address();
    for (int k = 0; k < mNumLocalAddresses; ++k) {
        if (mSenders[k] != nullptr && local == boost::asio::ip::address(mSenderAddresses[k]))
            return mSenders[k];
    }
    return nullptr;
}

void ZqServer::handle_timer()
{
    trace("ZqServer::handle_timer\n");
    ++mTickCount;

    if (mTickCount % kKeepAliveTicks == 0 && mConfigured && mUdpServer != nullptr && mNumPairs > 0) {
        for (int i = 0; i < mNumPairs; ++i) {
            trace("sendData for watchdog KEEP ALIVE[%i] \n", i);
            UdpBoundSocket* sender = senderFor(i);
            if (sender == nullptr)
                continue;
            // The dialog names the server that the last keep-alive reached
            // the network for, not one whose send failed.
            if (sender->sendData(getKeepAliveXml(addressText(mLocalEndpoints[i])), mRemoteEndpoints[i]))
                mOrvaneServer.set(addressText(mRemoteEndpoints[i]));
        }
    }

    if ((mTickCount % kReportTicks == 0 || (mConfigured && !mReportSent)) && mUdpServer != nullptr &&
        mNumPairs > 0) {
        for (int i = 0; i < mNumPairs; ++i) {
            trace("sendData for watchdog [%i] \n", i);
            if (UdpBoundSocket* sender = senderFor(i))
                sender->sendData(getReportXml(addressText(mLocalEndpoints[i])), mRemoteEndpoints[i]);
            mReportSent = true;
        }
    }

    --mAlarmHoldoff;
    mCpuUsage = CpuUsage::getCpuTotalUsage();
    if (mCpuUsage < mAlarmPercent) {
        mAlarmCountdown = mAlarmSeconds;
    } else if (--mAlarmCountdown <= 0) {
        mAlarmCountdown = 0;
        if (mAlarmHoldoff <= 0 && mUdpServer != nullptr) {
            std::string sentTo;
            for (int i = 0; i < mNumPairs; ++i) {
                trace("sendData for network [%i] \n", i);
                if (UdpBoundSocket* sender = senderFor(i)) {
                    sender->sendData(getAlarmXml(), mRemoteEndpoints[i]);
                    if (mRemoteEndpoints[i].port() != 0)
                        sentTo += (sentTo.empty() ? "" : ", ") + addressText(mRemoteEndpoints[i]) + ":" +
                                  std::to_string(mRemoteEndpoints[i].port()) + " from " +
                                  addressText(mLocalEndpoints[i]);
                }
            }
            if (!sentTo.empty()) {
                mLastAlarm.set(std::to_string(mCpuUsage.load()) + "% sent to " + sentTo);
                ++mAlarmsSent;
            }
            mAlarmHoldoff = kAlarmHoldoffTicks;
        }
    }

    trace("ZqServer::handle_timer [%i][%i][%i] \n", mAlarmCountdown, mAlarmSeconds, mAlarmPercent);
}

}  // namespace zq
