// Whether a UDP socket hears of its earlier datagrams' rejection.
#pragma once

#include <boost/asio/ip/udp.hpp>

namespace portunreachable {

// Stops the platform from reporting an ICMP port-unreachable message for an
// earlier send as an error of a later receive on socket. Windows does so for
// unconnected UDP sockets unless told otherwise; Linux never does. A failure
// is ignored: the receive loops re-arm after such errors anyway.
void ignore(boost::asio::ip::udp::socket& socket) noexcept;

}  // namespace portunreachable
