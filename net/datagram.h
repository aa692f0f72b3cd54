// What every socket of the agent shares about receiving one datagram.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/system/error_code.hpp>

namespace zq {

// A receive buffer that no IPv4 datagram can overflow (at most 65,507 bytes
// of data). Into a smaller buffer a datagram that does not fit ends its
// receive with the message-size error, and on Windows a receive started while
// such a datagram is queued completes twice, the second time on freed memory.
// Here every datagram arrives whole; each socket then interprets only as many
// of its bytes as it reads. The memory is touched only as far as datagrams
// fill it.
//
// A pending receive's handler holds a share of the memory (owner()), so that
// a socket object deleted while the platform may still be completing a
// receive (a sender replaced after an address change) never leaves the
// platform writing into freed memory.
class DatagramBuffer {
public:
    static constexpr std::size_t kSize = 65536;

    char* data() { return mBytes.get(); }
    const char* data() const { return mBytes.get(); }
    boost::asio::mutable_buffer whole() { return boost::asio::buffer(mBytes.get(), kSize); }
    std::shared_ptr<char[]> owner() const { return mBytes; }

    // The first length bytes up to the first zero byte: a datagram that
    // fills them has no zero byte after them.
    std::string textUpToZero(std::size_t length) const
    {
        return std::string(data(), std::find(data(), data() + length, '\0'));
    }

private:
    std::shared_ptr<char[]> mBytes{new char[kSize]};
};

// Whether a receive's error means that the socket is gone (closed, or being
// closed), so that no further receive can succeed. Every other error (a reset
// reported for an earlier send, a network reset, a datagram too large) says
// nothing about the next datagram.
inline bool socketClosed(const boost::system::error_code& error)
{
    return error == boost::asio::error::operation_aborted || error == boost::asio::error::bad_descriptor;
}

// Whether a receive delivered a datagram: a datagram larger than the buffer
// still delivers its first bytes.
inline bool datagramDelivered(const boost::system::error_code& error)
{
    return !error || error == boost::asio::error::message_size;
}

// Arms one receive of a datagram into buffer, the sender's endpoint into
// sender. (owner->*handle)(error, bytesReceived) runs when it completes,
// unless alive has expired by then (the owner gone): a socket object deleted
// while the platform may still complete its receive is never called. The
// completion holds a share of the buffer's memory until it has run. Whether
// and when to receive again is the handler's to say: it arms the next
// receive through this function.
template <typename Socket, typename Owner>
void armReceive(Socket& socket, DatagramBuffer& buffer, typename Socket::endpoint_type& sender,
                const std::shared_ptr<bool>& alive, Owner* owner,
                void (Owner::*handle)(const boost::system::error_code&, std::size_t))
{
    socket.async_receive_from(buffer.whole(), sender,
                              [guard = std::weak_ptr<bool>(alive), memory = buffer.owner(), owner,
                               handle](const boost::system::error_code& error, std::size_t bytesReceived) {
                                  (void)memory;  // held until the receive has completed
                                  if (!guard.expired())
                                      (owner->*handle)(error, bytesReceived);
                              });
}

}  // namespace zq
