// The sender socket: bound to one local address at the agent's port, it sends
// each document as one datagram and keeps a receive armed whose data is only
// traced.
#include "net/udp_bound_socket.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "net/port_unreachable.h"
#include "net/protocol.h"
#include "trace/trace.h"

namespace zq {

UdpBoundSocket::UdpBoundSocket(boost::asio::io_service& ioService, Endpoint local)
    : socket_(ioService)
    , sender_endpoint_(boost::asio::ip::udp::v4(), 0)
{
    trace("==>  UdpBoundSocket::UdpBoundSocket\n");
    try {
        trace("UdpBoundSocket::UdpBoundSocket  UDP SERVER ADDRESS=[%s:%i]\n",
              local.address().to_string().c_str(), static_cast<int>(local.port()));
        socket_.open(local.protocol());
        portunreachable::ignore(socket_);
        socket_.set_option(boost::asio::socket_base::reuse_address(true));
        socket_.bind(local);
        start_receive();
    } catch (...) {
        // The object stays usable: its sends then fail (never opened) or go
        // out from an address the platform chooses (opened, not bound).
        noteException("UdpBoundSocket::UdpBoundSocket");
        return;
    }
    trace("<==  UdpBoundSocket::UdpBoundSocket\n");
}

UdpBoundSocket::~UdpBoundSocket()
{
    trace("<> UdpBoundSocket::~UdpBoundSocket\n");
    // Closing the socket abandons the pending receive; alive_ goes first, so
    // that receive can no longer reach this object.
}

bool UdpBoundSocket::sendData(std::string message, Endpoint remote)
{
    trace("==>  UdpBoundSocket::sendData\n");
    // The datagram carries the text up to its first zero byte.
    std::shared_ptr<std::string> datagram = std::make_shared<std::string>(message.c_str());
    if (remote.port() == 0) {
        trace("<==  UdpBoundSocket::sendData  (remote.port() == 0)\n");
        return false;
    }
    trace("SEND TX DATA TO=[%s:%i]\n", remote.address().to_string().c_str(),
          static_cast<int>(remote.port()));
    trace("SEND TX DATA=[%s]\n", datagram->c_str());
    try {
        socket_.send_to(boost::asio::buffer(*datagram), remote);
    } catch (...) {
        // One failed send (an address gone, a refusal) must not stop the
        // agent: the next send may well succeed.
        noteException("UdpBoundSocket::sendData");
        return false;
    }
    trace("<==  UdpBoundSocket::sendData\n");
    return true;
}

void UdpBoundSocket::start_receive()
{
    trace("<> UdpBoundSocket::start_receive\n");
    std::memset(data_.data(), 0, kUnicastClearedBytes);
    armReceive(socket_, data_, sender_endpoint_, alive_, this, &UdpBoundSocket::handle_receive);
}

void UdpBoundSocket::handle_receive(const boost::system::error_code& error, std::size_t bytesReceived)
{
    trace("==>  UdpBoundSocket::handle_receive\n");
    // Only the first bytes of a longer datagram are read, and it counts as
    // that long.
    std::size_t bytesTransferred = std::min(bytesReceived, kUnicastReceiveSize);
    if (datagramDelivered(error)) {
        trace("RX DATA FROM=[%s:%i]\n", sender_endpoint_.address().to_string().c_str(),
              static_cast<int>(sender_endpoint_.port()));
        trace("SIP RX DATA  bytes_transferred=[%i] data=[%s]\n", static_cast<int>(bytesTransferred),
              data_.textUpToZero(bytesTransferred).c_str());
        if (bytesTransferred >= kShortestInterpreted)
            trace("UdpBoundSocket::parseZqMessage   NOT WIRED UP !!!!\n");
    }
    // Whatever happened, the socket goes on receiving.
    start_receive();
    trace("<==  UdpBoundSocket::handle_receive\n");
}

}  // namespace zq
