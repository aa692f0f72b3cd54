// Loopback endpoints for the socket tests: all of their traffic stays on
// 127.0.0.1.
#pragma once

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/udp.hpp>

// 127.0.0.1 at port (0: a port the system chooses).
inline boost::asio::ip::udp::endpoint loopback(unsigned short port)
{
    return boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::loopback(), port);
}
