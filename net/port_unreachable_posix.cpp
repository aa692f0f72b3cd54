// Port-unreachable reports on Linux: an unconnected UDP socket never gets
// them as receive errors (that would take IP_RECVERR), so there is nothing
// to switch off.
#include "net/port_unreachable.h"

namespace portunreachable {

void ignore(boost::asio::ip::udp::socket&) noexcept
{
}

}  // namespace portunreachable
