// The agent's network service: one object that owns the I/O service and
// everything that runs on it, the agent's configuration, its alarm state and
// the texts that the dialog shows.
//
// The façade builds it on the main thread and runs run() as the body of the
// worker thread; every completion handler runs on that one thread. Values that
// the dialog's thread copies are SharedText or atomics.
#pragma once

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/core/noncopyable.hpp>

#include "hostinfo/cpu_usage.h"
#include "net/address_watch.h"
#include "net/multicast_receiver.h"
#include "net/protocol.h"
#include "net/udp_bound_socket.h"
#include "net/udp_zq_server.h"
#include "service/shared_text.h"
#include "service/tick_clock.h"

namespace zq {

// Most common-network pairs, local addresses and senders.
constexpr int kMaxPairs = 5;

class ZqServer : boost::noncopyable {
public:
    ZqServer();
    virtual ~ZqServer();

    // The worker thread's body: runs the I/O loop; never lets an exception out.
    void run();
    // Posts handle_stop; the stop takes effect on the worker thread.
    void stop();
    void handle_stop();

    bool runExited() const { return mRunExited.load(); }

    // The timer cycle: one tick a second on a fixed schedule.
    void start_timer();
    void on_timer();
    void handle_timer();

    std::string getCpuUsageText() const;
    std::string getOsDescText();

    int getNumIpAddresses();
    std::string getIpAddressesXml();

    // Applies an Orvane configuration message to the one running server.
    static void setCrossOver(const std::string& payload);

    std::string getKeepAliveXml(const std::string& address);
    std::string getReportXml(const std::string& address);
    std::string getAlarmXml();

    using Endpoint = boost::asio::ip::udp::endpoint;

    // The sender bound to the local address of pair i, or null: each
    // document leaves from the address that it names.
    UdpBoundSocket* senderFor(int pair) const;

    // Re-takes the local addresses when the host's interfaces have changed:
    // re-creates the senders whose address changed (or that could not
    // bind), joins the groups on new interfaces and applies the last
    // configuration message again. Runs on the worker thread.
    void checkLocalAddresses();
    // A notice from the platform that the host's addresses or interfaces
    // changed: checks them once the burst of notices has settled (300 ms
    // without another) or one second after its first notice, whichever
    // comes first. The re-check every five seconds goes on regardless.
    void on_address_notice();

    CpuUsage mCpuSampler;
    std::array<Endpoint, kMaxPairs> mRemoteEndpoints;
    std::array<Endpoint, kMaxPairs> mLocalEndpoints;
    boost::asio::io_service mIoService;
    UdpZqServer* mUdpServer;
    std::array<UdpBoundSocket*, kMaxPairs> mSenders{};
    std::atomic<bool> mRunExited{false};
    MulticastReceiver mMulticastReceiver;
    MulticastReceiverCloud mMulticastReceiverCloud;
    int mTimerSeconds = 5;
    bool mTimerRunning = false;
    TickTimer mTimer;
    SharedText mHostName;
    std::string mOsDesc;
    SharedText mCommonLocalIps;
    SharedText mTriggerText;
    SharedText mOrvaneServer;
    SharedText mCloudServer;
    int mAlarmSeconds = 5;
    int mAlarmPercent = 100;
    std::atomic<int> mCpuUsage{0};
    int mTickCount = 0;
    int mRemotePort = 0;
    int mAlarmCountdown = 5;
    int mAlarmHoldoff = 0;
    int mNumPairs = 0;
    bool mConfigured = false;
    bool mReportSent = false;
    // The CPU alarms sent so far and what the last one was ("97% sent to
    // 192.168.1.10:34543 from 192.168.1.5"), for the console; the text is
    // set before the count grows.
    std::atomic<unsigned long> mAlarmsSent{0};
    SharedText mLastAlarm;
    // Entry k of mSenders is bound to entry k of mSenderAddresses (port
    // 34543); mNumLocalAddresses of them are in use.
    std::array<boost::asio::ip::address_v4, kMaxPairs> mSenderAddresses{};
    int mNumLocalAddresses = 0;
    // What the last address check saw of the interfaces, and the last
    // configuration message, applied again after a change.
    std::vector<std::uint32_t> mInterfaceAddresses;
    std::string mLastConfig;
    bool mHaveLastConfig = false;
    TickTimer mAddressTimer;
    TickTimer mNoticeTimer;
    bool mNoticeBurst = false;
    TickClock::time_point mNoticeBurstStart{};
    AddressWatch mAddressWatch;

private:
    void applyCrossOver(const std::string& payload);
    // Up to five local addresses, from the lookup of the host's own name;
    // traced when taken at construction.
    std::vector<boost::asio::ip::address_v4> lookUpLocalAddresses(bool traced);
    void start_address_watch();
    void schedule_address_recheck();
};

// The one server; set by its constructor and never cleared.
extern ZqServer* gServer;

}  // namespace zq
