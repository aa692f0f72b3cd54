// The sender socket: bound to one local address at the agent's port, it sends
// each document as one datagram and keeps a receive armed whose data is only
// traced.
#include "net/udp_bound_socket.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/trace.h"
#include "net/port_unreachable.h"

namespace zq {

namespace {

// The bytes of a datagram that are read; the rest of a longer one is ignored.
constexpr std::size_t kReceiveSize = 1501;
// One less than the bytes read: the last byte is never cleared.
constexpr std::size_t kClearedBytes = 1500;
// Datagrams longer than this would be interpreted, if anything interpreted them.
constexpr std::size_t kShortestInterpreted = 11;

}  // namespace

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

void UdpBoundSocket::sendData(std::string message, Endpoint remote)
{
    trace("==>  UdpBoundSocket::sendData\n");
    // The datagram carries the text up to its first zero byte.
    std::shared_ptr<std::string> datagram = std::make_shared<std::string>(message.c_str());
    if (remote.port() == 0) {
        trace("<==  UdpBoundSocket::sendData  (remote.port() == 0)\n");
        return;
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
        return;
    }
    trace("<==  UdpBoundSocket::sendData\n");
}

void UdpBoundSocket::start_receive()
{
    trace("<> UdpBoundSocket::start_receive\n");
    std::memset(data_.data(), 0, kClearedBytes);
    std::weak_ptr<bool> alive = alive_;
    socket_.async_receive_from(
        data_.whole(), sender_endpoint_,
        [this, alive, memory = data_.owner()](const boost::system::error_code& error,
                                              std::size_t bytesTransferred) {
            (void)memory;  // held until the receive has completed
            if (!alive.expired())
                handle_receive(error, bytesTransferred);
        });
}

void UdpBoundSocket::handle_receive(const boost::system::error_code& error, std::size_t bytesReceived)
{
    trace("==>  UdpBoundSocket::handle_receive\n");
    // Only the first kReceiveSize bytes of a longer datagram are read, and it
    // counts as that long.
    std::size_t bytesTransferred = bytesReceived < kReceiveSize ? bytesReceived : kReceiveSize;
    // A datagram larger than the buffer still delivers its first bytes.
    if (!error || error == boost::asio::error::message_size) {
        trace("RX DATA FROM=[%s:%i]\n", sender_endpoint_.address().to_string().c_str(),
              static_cast<int>(sender_endpoint_.port()));
        // A datagram that fills all the bytes read has no zero byte after them.
        std::string text(data_.data(), std::find(data_.data(), data_.data() + bytesTransferred, '\0'));
        trace("SIP RX DATA  bytes_transferred=[%i] data=[%s]\n", static_cast<int>(bytesTransferred),
              text.c_str());
        if (bytesTransferred >= kShortestInterpreted)
            trace("UdpBoundSocket::parseZqMessage   NOT WIRED UP !!!!\n");
    }
    start_receive();
    trace("<==  UdpBoundSocket::handle_receive\n");
}

}  // namespace zq
