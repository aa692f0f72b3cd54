// The agent's sending endpoint: one UDP socket bound to one local IPv4
// address at the agent's port. It sends the documents as single datagrams and
// keeps a receive armed whose data is only traced.
#pragma once

#include <memory>
#include <string>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>

#include "net/datagram.h"

namespace zq {

class UdpBoundSocket {
public:
    using Endpoint = boost::asio::ip::udp::endpoint;

    // Never throws: a set-up failure is traced and logged, and the object
    // is used like any other (its sends then fail).
    UdpBoundSocket(boost::asio::io_service& ioService, Endpoint local);
    UdpBoundSocket(const UdpBoundSocket&) = delete;
    UdpBoundSocket& operator=(const UdpBoundSocket&) = delete;
    virtual ~UdpBoundSocket();

    // Sends message, up to its first zero byte, as one datagram to remote;
    // nothing for port 0. A failed send is traced and logged, never thrown:
    // one transient network fault must not stop the agent. Returns whether
    // the datagram went out.
    bool sendData(std::string message, Endpoint remote);

    // Whether the socket holds a local address and port of its own.
    bool isBound() const
    {
        boost::system::error_code error;
        return socket_.local_endpoint(error).port() != 0 && !error;
    }

    void start_receive();
    void handle_receive(const boost::system::error_code& error, std::size_t bytesTransferred);

private:
    boost::asio::ip::udp::socket socket_;
    Endpoint sender_endpoint_;
    DatagramBuffer data_;
    // Expires when this object goes, so that a receive completing later
    // never calls into it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zq
