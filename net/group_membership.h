// A receiver's membership of its multicast group on every local IPv4
// interface: on the interface the system chooses and, by address, on each
// interface that is up, so that a machine with a plant and an office
// interface hears the servers on either. Joins that fail (no address yet, no
// multicast route yet) are traced and tried again at the next join(); the
// first failure on each interface also goes to the event log, once, until
// a join there succeeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/udp.hpp>

class GroupMembership {
public:
    // group: the group address as text; an invalid one throws.
    void setGroup(const std::string& group);

    // Joins the group on socket wherever it is not a member yet; forgets
    // the interfaces whose address has gone. Never throws.
    void join(boost::asio::ip::udp::socket& socket);

    bool joinedAnywhere() const { return systemChosen_ || !interfaces_.empty(); }
    // Whether the last join() left an interface without the membership.
    bool missingSomewhere() const { return !systemChosen_ || !failed_.empty(); }

private:
    // Traces a failed join and, the first time for that interface, logs it.
    void noteFailure(const std::string& where, const boost::system::error_code& error, bool& logged);

    boost::asio::ip::address_v4 group_;
    bool systemChosen_ = false;
    bool systemFailureLogged_ = false;
    std::vector<std::uint32_t> interfaces_;  // joined, by address (network order)
    std::vector<std::uint32_t> failed_;      // failed and logged, by address
};
