// Per-platform multicast delivery settings for a receiving socket.
#pragma once

#include <boost/asio/ip/udp.hpp>

namespace multicastdelivery {

// Makes socket receive only the groups that it joined itself. Linux would
// otherwise hand a socket bound to the any-address the datagrams of every
// group that any socket of the host joined on that port; Windows already
// delivers per membership. Throws boost::system::system_error on failure.
void onlyJoinedGroups(boost::asio::ip::udp::socket& socket);

}  // namespace multicastdelivery
