// Joining a multicast group on the system's interface and on every local
// IPv4 interface by its address.
#include "net/group_membership.h"

#include <algorithm>

#include <boost/asio/ip/multicast.hpp>

#include "net/host_lookup.h"
#include "trace/trace.h"

namespace {

using boost::asio::ip::address_v4;
namespace multicast = boost::asio::ip::multicast;

// A membership that the socket already holds on that interface (joined
// through the system's choice, or kept by the platform across an address
// change) counts as joined.
bool joined(const boost::system::error_code& error)
{
    return !error || error == boost::asio::error::address_in_use;
}

}  // namespace

void GroupMembership::setGroup(const std::string& group)
{
    group_ = boost::asio::ip::make_address_v4(group);
}

void GroupMembership::noteFailure(const std::string& where, const boost::system::error_code& error, bool& logged)
{
    const std::string line =
        "GroupMembership::join [" + group_.to_string() + "] on " + where + " failed [" + error.message() + "]\n";
    trace("%s", line.c_str());
    if (!logged)
        gEventLog.append("\r ZqServer= ", line, "\r");
    logged = true;
}

void GroupMembership::join(boost::asio::ip::udp::socket& socket)
{
    boost::system::error_code error;
    if (!systemChosen_) {
        socket.set_option(multicast::join_group(group_), error);
        systemChosen_ = joined(error);
        if (!systemChosen_)
            noteFailure("the system's interface", error, systemFailureLogged_);
    }

    std::vector<std::uint32_t> current = hostlookup::interfaceAddresses();
    auto gone = [&](std::uint32_t address) {
        return std::find(current.begin(), current.end(), address) == current.end();
    };
    interfaces_.erase(std::remove_if(interfaces_.begin(), interfaces_.end(), gone), interfaces_.end());
    failed_.erase(std::remove_if(failed_.begin(), failed_.end(), gone), failed_.end());
    for (std::uint32_t address : current) {
        if (std::find(interfaces_.begin(), interfaces_.end(), address) != interfaces_.end())
            continue;
        address_v4 local(inet::networkToHost(address));
        auto failed = std::find(failed_.begin(), failed_.end(), address);
        socket.set_option(multicast::join_group(group_, local), error);
        if (joined(error)) {
            interfaces_.push_back(address);
            if (failed != failed_.end())
                failed_.erase(failed);
            trace("GroupMembership::join [%s] on [%s]\n", group_.to_string().c_str(), local.to_string().c_str());
        } else {
            bool logged = failed != failed_.end();
            noteFailure("[" + local.to_string() + "]", error, logged);
            if (failed == failed_.end())
                failed_.push_back(address);
        }
    }
}
