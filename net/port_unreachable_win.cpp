// Port-unreachable reports on Windows: by default an ICMP port-unreachable
// message for an earlier send completes the socket's next receive with
// WSAECONNRESET. SIO_UDP_CONNRESET set to FALSE turns that off, as Windows
// UDP servers usually do.
#include "net/port_unreachable.h"

#include <winsock2.h>
#include <mswsock.h>

namespace portunreachable {

void ignore(boost::asio::ip::udp::socket& socket) noexcept
{
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(socket.native_handle(), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned,
               nullptr, nullptr);
}

}  // namespace portunreachable
