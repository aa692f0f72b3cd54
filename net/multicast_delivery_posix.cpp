// Multicast delivery on Linux. A socket bound to the any-address receives, by
// default, the datagrams of every group that any socket of the host joined on
// its port (IP_MULTICAST_ALL). Turning that off leaves it the groups it joined
// itself, so each configuration receiver hears its own network only.
#include "net/multicast_delivery.h"

#include <cerrno>

#include <netinet/in.h>
#include <sys/socket.h>

#include <boost/system/system_error.hpp>

namespace multicastdelivery {

void onlyJoinedGroups(boost::asio::ip::udp::socket& socket)
{
    int all = 0;
    if (::setsockopt(socket.native_handle(), IPPROTO_IP, IP_MULTICAST_ALL, &all, sizeof all) != 0)
        throw boost::system::system_error(errno, boost::system::system_category(),
                                          "setsockopt IP_MULTICAST_ALL");
}

}  // namespace multicastdelivery
