// The agent's heartbeat: once a second the server counts a tick, sends a
// keep-alive every 30 ticks and a status report every 600 ticks (and once
// right after the first usable configuration) over every common-network pair,
// samples the CPU load, and sends a CPU alarm when the load has stayed at or
// above the threshold for the configured number of ticks, at most once every
// 180 ticks.
#include "app/trace.h"
#include "service/zq_server.h"

namespace zq {

namespace {
constexpr int kKeepAliveTicks = 30;
constexpr int kReportTicks = 600;
constexpr int kAlarmHoldoffTicks = 180;

std::string addressText(const boost::asio::ip::udp::endpoint& endpoint)
{
    return endpoint.address().to_string();
}
}  // namespace

void ZqServer::start_timer()
{
    mTimerRunning = true;
    mTimerSeconds = 1;
    mTimer.expires_at(mTimer.expires_at() + boost::posix_time::seconds(mTimerSeconds));
    mTimer.async_wait([this](const boost::system::error_code&) { on_timer(); });
}

void ZqServer::on_timer()
{
    if (!mTimerRunning)
        return;
    handle_timer();
    // The next expiry follows the previous one, not the present time: the
    // ticks keep a fixed schedule, and ticks that fell due while one ran late
    // follow at once.
    mTimer.expires_at(mTimer.expires_at() + boost::posix_time::seconds(mTimerSeconds));
    mTimer.async_wait([this](const boost::system::error_code&) { on_timer(); });
}

void ZqServer::handle_timer()
{
    trace("ZqServer::handle_timer\n");
    ++mTickCount;

    if (mTickCount % kKeepAliveTicks == 0 && mConfigured && mUdpServer != nullptr && mNumPairs > 0) {
        for (int i = 0; i < mNumPairs; ++i) {
            trace("sendData for watchdog KEEP ALIVE[%i] \n", i);
            if (mSenders[i] == nullptr)
                continue;
            mSenders[i]->sendData(getKeepAliveXml(addressText(mLocalEndpoints[i])), mRemoteEndpoints[i]);
            mOrvaneServer.set(addressText(mRemoteEndpoints[i]));
        }
    }

    if ((mTickCount % kReportTicks == 0 || (mConfigured && !mReportSent)) && mUdpServer != nullptr &&
        mNumPairs > 0) {
        for (int i = 0; i < mNumPairs; ++i) {
            trace("sendData for watchdog [%i] \n", i);
            if (mSenders[i] != nullptr)
                mSenders[i]->sendData(getReportXml(addressText(mLocalEndpoints[i])), mRemoteEndpoints[i]);
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
            for (int i = 0; i < mNumPairs; ++i) {
                trace("sendData for network [%i] \n", i);
                if (mSenders[i] != nullptr)
                    mSenders[i]->sendData(getAlarmXml(), mRemoteEndpoints[i]);
            }
            mAlarmHoldoff = kAlarmHoldoffTicks;
        }
    }

    trace("ZqServer::handle_timer [%i][%i][%i] \n", mAlarmCountdown, mAlarmSeconds, mAlarmPercent);
}

}  // namespace zq
