// The two configuration receivers. Each binds the agent's port on the IPv4
// any-address, joins its own group and takes that group's datagrams only:
// the Orvane receiver hands configuration messages to the server, the cloud
// receiver takes the cloud server's address out of them.
#pragma once

#include <memory>
#include <string>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>

#include "net/datagram.h"
#include "net/group_membership.h"

class MulticastReceiver {
public:
    // Never throws: a set-up failure is traced and logged, and the receiver
    // stays silent.
    MulticastReceiver(boost::asio::io_service& ioService, std::string group);
    MulticastReceiver(const MulticastReceiver&) = delete;
    MulticastReceiver& operator=(const MulticastReceiver&) = delete;
    virtual ~MulticastReceiver();

    void handle_receive_from(const boost::system::error_code& error, std::size_t bytesReceived);
    void parseMcZqMessage(const std::string& text);

    // Joins the group on the interfaces that have come up since, and
    // again where a join failed; the server calls it when the host's
    // addresses change.
    void rejoin();

private:
    void start_receive();

    boost::asio::ip::udp::socket socket_;
    GroupMembership membership_;
    boost::asio::ip::udp::endpoint sender_endpoint_;
    zq::DatagramBuffer data_;
    // Expires when this object goes, so that a receive completing later
    // never calls into it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class MulticastReceiverCloud {
public:
    MulticastReceiverCloud(boost::asio::io_service& ioService, std::string group);
    MulticastReceiverCloud(const MulticastReceiverCloud&) = delete;
    MulticastReceiverCloud& operator=(const MulticastReceiverCloud&) = delete;
    virtual ~MulticastReceiverCloud();

    void handle_receive_from(const boost::system::error_code& error, std::size_t bytesReceived);
    void parseMcZqMessage(const std::string& text);

    // Joins the group on the interfaces that have come up since, and
    // again where a join failed; the server calls it when the host's
    // addresses change.
    void rejoin();

private:
    void start_receive();

    boost::asio::ip::udp::socket socket_;
    GroupMembership membership_;
    boost::asio::ip::udp::endpoint sender_endpoint_;
    zq::DatagramBuffer data_;
    // Expires when this object goes, so that a receive completing later
    // never calls into it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
