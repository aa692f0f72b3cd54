// The two configuration receivers. Each binds the agent's port on the IPv4
// any-address, joins its own group and takes that group's datagrams only:
// the Orvane receiver hands configuration messages to the server, the cloud
// receiver takes the cloud server's address out of them.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>

#include "net/datagram.h"
#include "net/group_membership.h"
#include "service/tick_clock.h"

namespace zq {

// What both receivers are made of: the socket on one group and its receive
// loop. Each datagram is echoed, traced and logged, and one long enough is
// handed to the receiver's interpret function. The receiver's name makes
// its trace lines ("<name>::<name>", "<name>::handle_receive_from").
class GroupReceiver {
public:
    using Interpret = std::function<void(const std::string& text)>;

    // Never throws: a set-up failure is traced and logged, and the receiver
    // stays silent.
    GroupReceiver(boost::asio::io_service& ioService, const std::string& group, const std::string& name,
                  Interpret interpret);
    GroupReceiver(const GroupReceiver&) = delete;
    GroupReceiver& operator=(const GroupReceiver&) = delete;
    ~GroupReceiver();

    void handle_receive_from(const boost::system::error_code& error, std::size_t bytesReceived);

    // Joins the group on the interfaces that have come up since, and again
    // where a join failed; the server calls it when the host's addresses
    // change. While a join is missing, it is tried again every 30 seconds.
    void rejoin();

private:
    void start_receive();
    void schedule_rejoin();

    const std::string received_;  // the trace line of each datagram
    Interpret interpret_;
    boost::asio::ip::udp::socket socket_;
    GroupMembership membership_;
    TickTimer rejoin_timer_;
    bool rejoin_pending_ = false;
    boost::asio::ip::udp::endpoint sender_endpoint_;
    DatagramBuffer data_;
    // Expires when this object goes, so that a receive completing later
    // never calls into it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zq

class MulticastReceiver {
public:
    MulticastReceiver(boost::asio::io_service& ioService, std::string group);
    virtual ~MulticastReceiver();

    void handle_receive_from(const boost::system::error_code& error, std::size_t bytesReceived);
    void parseMcZqMessage(const std::string& text);
    void rejoin();

private:
    zq::GroupReceiver receiver_;
};

class MulticastReceiverCloud {
public:
    MulticastReceiverCloud(boost::asio::io_service& ioService, std::string group);
    virtual ~MulticastReceiverCloud();

    void handle_receive_from(const boost::system::error_code& error, std::size_t bytesReceived);
    void parseMcZqMessage(const std::string& text);
    void rejoin();

private:
    zq::GroupReceiver receiver_;
};
