// Multicast delivery on Windows. Winsock hands a socket only the datagrams of
// the groups that the socket itself joined, so there is nothing to set.
#include "net/multicast_delivery.h"

namespace multicastdelivery {

void onlyJoinedGroups(boost::asio::ip::udp::socket&)
{
}

}  // namespace multicastdelivery
