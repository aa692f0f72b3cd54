// The server's local addresses: taken from the lookup of the host's own name
// at construction, and taken again whenever the host's interfaces change
// (a new lease, a network that comes up after the agent, a cable moved).
// The platform's notice (AddressWatch) makes a change take effect soon; a
// re-check every few seconds, on a timer of its own that notices never move,
// catches what no notice reports.
#include <algorithm>
#include <chrono>

#include "net/host_lookup.h"
#include "service/zq_server.h"
#include "trace/trace.h"

namespace zq {

namespace {

using boost::asio::ip::address_v4;

// How often the interfaces are looked at without a notice (give or take
// the slack, to meet a tick); how long a
// notice waits for the changes that come with it; and how long a burst of
// notices (a host with route churn) may hold off the check at most.
constexpr auto kAddressRecheck = std::chrono::seconds(5);
constexpr auto kAddressRecheckSlack = std::chrono::milliseconds(500);
constexpr auto kAfterNotice = std::chrono::milliseconds(300);
constexpr auto kNoticeBurstMost = std::chrono::seconds(1);

std::string listText(const std::vector<std::uint32_t>& addresses)
{
    std::string text;
    for (std::uint32_t address : addresses) {
        if (!text.empty())
            text += ", ";
        text += inet::ntoa(address);
    }
    return text;
}

bool contains(const std::vector<address_v4>& list, const address_v4& address)
{
    return std::find(list.begin(), list.end(), address) != list.end();
}

}  // namespace

std::vector<address_v4> ZqServer::lookUpLocalAddresses(bool traced)
{
    std::vector<address_v4> taken;
    hostlookup::OwnHost host = hostlookup::lookUpOwnHost(hostlookup::kHostNameSize);
    if (!host.nameFound) {
        if (traced)
            trace("Error [%i]  when getting local host name.\n", host.nameError);
    } else if (!host.addressesFound) {
        if (traced)
            trace("Yikes! Bad host lookup.\n");
    } else {
        for (std::uint32_t address : host.addresses) {
            if (taken.size() == static_cast<std::size_t>(kMaxPairs))
                break;
            if (traced)
                trace("Address [%s]\n", inet::ntoa(address).c_str());
            taken.emplace_back(inet::networkToHost(address));
        }
    }
    return taken;
}

void ZqServer::start_address_watch()
{
    mInterfaceAddresses = hostlookup::interfaceAddresses();
    mAddressWatch.start([this] { on_address_notice(); });
    schedule_address_recheck();
}

void ZqServer::schedule_address_recheck()
{
    // The re-check falls on an instant of the tick's schedule, about five
    // seconds on: the worker thread then wakes once for both, not twice.
    // The tick's next expiry is one of those instants, whether it has run
    // for this one yet or not (or has stopped: the instant lies past).
    const TickClock::time_point tick = mTimer.expiry();
    const TickClock::duration ahead =
        std::max(TickClock::now() + kAddressRecheck - kAddressRecheckSlack - tick, TickClock::duration::zero());
    mAddressTimer.expires_at(tick + std::chrono::ceil<std::chrono::seconds>(ahead));
    mAddressTimer.async_wait([this](const boost::system::error_code& error) {
        if (error == boost::asio::error::operation_aborted)
            return;
        checkLocalAddresses();
        schedule_address_recheck();
    });
}

void ZqServer::on_address_notice()
{
    // Each notice of a burst moves the check to 300 ms after itself, but
    // never past one second after the burst's first notice. Setting the
    // expiry abandons the wait that is pending.
    TickClock::time_point now = TickClock::now();
    if (!mNoticeBurst) {
        mNoticeBurst = true;
        mNoticeBurstStart = now;
    }
    mNoticeTimer.expires_at(std::min(now + kAfterNotice, mNoticeBurstStart + kNoticeBurstMost));
    mNoticeTimer.async_wait([this](const boost::system::error_code& error) {
        if (error == boost::asio::error::operation_aborted)
            return;
        mNoticeBurst = false;
        checkLocalAddresses();
    });
}

void ZqServer::checkLocalAddresses()
{
    try {
        std::vector<std::uint32_t> interfaces = hostlookup::interfaceAddresses();
        if (interfaces == mInterfaceAddresses)
            return;
        trace("ZqServer::checkLocalAddresses  interfaces [%s] -> [%s]\n", listText(mInterfaceAddresses).c_str(),
              listText(interfaces).c_str());
        mInterfaceAddresses = interfaces;

        std::vector<address_v4> before(mSenderAddresses.begin(), mSenderAddresses.begin() + mNumLocalAddresses);
        std::vector<address_v4> after = lookUpLocalAddresses(false);
        for (const address_v4& address : before) {
            if (!contains(after, address))
                trace("ZqServer::checkLocalAddresses  local address gone [%s]\n", address.to_string().c_str());
        }
        for (const address_v4& address : after) {
            if (!contains(before, address))
                trace("ZqServer::checkLocalAddresses  local address new [%s]\n", address.to_string().c_str());
        }

        // Keep each sender whose address stays and that is bound; bind the
        // others anew (an address that was not on any interface yet could
        // not be bound at the time).
        std::array<UdpBoundSocket*, kMaxPairs> senders{};
        for (std::size_t k = 0; k < after.size(); ++k) {
            for (int j = 0; j < mNumLocalAddresses; ++j) {
                if (mSenders[j] != nullptr && mSenderAddresses[j] == after[k] && mSenders[j]->isBound()) {
                    senders[k] = mSenders[j];
                    mSenders[j] = nullptr;
                    break;
                }
            }
        }
        for (UdpBoundSocket*& sender : mSenders) {
            delete sender;
            sender = nullptr;
        }
        mNumLocalAddresses = static_cast<int>(after.size());
        for (int k = 0; k < mNumLocalAddresses; ++k) {
            mSenderAddresses[k] = after[k];
            if (senders[k] == nullptr) {
                trace("ZqServer::checkLocalAddresses  sender [%s]\n", after[k].to_string().c_str());
                senders[k] = new UdpBoundSocket(mIoService, Endpoint(after[k], kAgentPort));
            }
        }
        mSenders = senders;

        mMulticastReceiver.rejoin();
        mMulticastReceiverCloud.rejoin();

        // The pairs follow the addresses at once; the first report keeps its
        // meaning (no second one for this).
        if (mHaveLastConfig) {
            trace("ZqServer::checkLocalAddresses  configuration applied again\n");
            applyCrossOver(mLastConfig);
        }
    } catch (...) {
        noteException("ZqServer::checkLocalAddresses");
    }
}

}  // namespace zq
