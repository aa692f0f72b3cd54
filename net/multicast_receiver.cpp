// The two configuration receivers. They share the set-up and the handling of
// each datagram (echo, trace, event log, CPU sample) through the helpers
// below, and differ only in what they take out of a configuration message.
#include "net/multicast_receiver.h"

#include <cstdio>
#include <memory>

#include <unistd.h>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/multicast.hpp>

#include "app/console_view.h"
#include "app/trace.h"
#include "config/xml_value.h"
#include "hostinfo/cpu_usage.h"
#include "net/multicast_delivery.h"
#include "service/zq_server.h"

namespace {

using boost::asio::ip::udp;

const char kListenAddress[] = "0.0.0.0";
constexpr unsigned short kListenPort = 34543;
// The bytes of a datagram that are read; the rest of a longer one is ignored.
constexpr std::size_t kReceiveSize = 1024;
constexpr std::size_t kShortestInterpreted = 11;
const char kConfigKeyword[] = "beaconCfgAlarm";
const char kCloudServerTag[] = "<srvIpAddr>";

// Binds the agent's port on every local IPv4 address and joins group on
// every local interface. Throws when the socket cannot be set up; joins that
// fail are traced and tried again by rejoin().
void listenToGroup(udp::socket& socket, const std::string& group, GroupMembership& membership)
{
    membership.setGroup(group);
    udp::endpoint listen(boost::asio::ip::make_address(kListenAddress), kListenPort);
    socket.open(listen.protocol());
    // Without this a socket on the any-address would also take the other
    // receiver's group.
    multicastdelivery::onlyJoinedGroups(socket);
    // Both receivers, and other programs, bind the same port.
    socket.set_option(udp::socket::reuse_address(true));
    socket.bind(listen);
    membership.join(socket);
}

// Joins again where needed, on a socket that was set up (a receiver that
// could not bind its port stays disabled).
void rejoinGroup(udp::socket& socket, GroupMembership& membership)
{
    boost::system::error_code error;
    if (socket.is_open() && socket.local_endpoint(error).port() == kListenPort && !error)
        membership.join(socket);
}

// The echo of a datagram, with the other diagnostics on standard error
// (standard output is the console's) and switched with them. A terminal gets
// control bytes escaped, so that nobody on the network can drive it; a file,
// a pipe or the journal gets the bytes.
void echoDatagram(const std::string& text)
{
    std::string line = ::isatty(::fileno(stderr)) != 0 ? console::escapeControls(text) : text;
    line += '\n';
    diagnosticOutput(line.data(), line.size());
}

// What every datagram gets before it is interpreted: the echo, the trace
// line, the event-log entry and one CPU sample, so that the sampler's next
// reading measures only the time since this datagram.
std::string takeDatagram(const char* data, std::size_t bytesReceived)
{
    std::string text(data, bytesReceived);
    echoDatagram(text);
    trace("MulticastRX=[%s]\n", text.c_str());
    gEventLog.append("\r MulticastRX= ", text, "\r");
    CpuUsage::getCpuTotalUsage();
    return text;
}

bool isConfigMessage(const std::string& text)
{
    return text.find(kConfigKeyword) != std::string::npos;
}

}  // namespace

MulticastReceiver::MulticastReceiver(boost::asio::io_service& ioService, std::string group)
    : socket_(ioService)
    , sender_endpoint_(udp::v4(), 0)
{
    trace("MulticastReceiver::MulticastReceiver\n");
    try {
        listenToGroup(socket_, group, membership_);
        start_receive();
    } catch (...) {
        noteException("MulticastReceiver::MulticastReceiver");
    }
}

MulticastReceiver::~MulticastReceiver()
{
    boost::system::error_code ignored;
    socket_.close(ignored);
}

void MulticastReceiver::rejoin()
{
    rejoinGroup(socket_, membership_);
}

void MulticastReceiver::start_receive()
{
    std::weak_ptr<bool> alive = alive_;
    socket_.async_receive_from(
        data_.whole(), sender_endpoint_,
        [this, alive, memory = data_.owner()](const boost::system::error_code& error,
                                              std::size_t bytesReceived) {
            (void)memory;  // held until the receive has completed
            if (!alive.expired())
                handle_receive_from(error, bytesReceived);
        });
}

void MulticastReceiver::handle_receive_from(const boost::system::error_code& error, std::size_t bytesReceived)
{
    if (error) {
        // An error of one receive (a reset reported for an earlier send, a
        // datagram too large) says nothing about the next datagram; only a
        // closed socket ends the receiver.
        if (!zq::socketClosed(error))
            start_receive();
        return;
    }
    trace("MulticastReceiver::handle_receive_from\n");
    std::size_t taken = bytesReceived < kReceiveSize ? bytesReceived : kReceiveSize;
    std::string text = takeDatagram(data_.data(), taken);
    if (taken >= kShortestInterpreted)
        parseMcZqMessage(text);
    start_receive();
}

void MulticastReceiver::parseMcZqMessage(const std::string& text)
{
    trace("MulticastReceiver::parseMcZqMessage\n");
    if (isConfigMessage(text) && zq::gServer != nullptr)
        zq::ZqServer::setCrossOver(text);
}

MulticastReceiverCloud::MulticastReceiverCloud(boost::asio::io_service& ioService, std::string group)
    : socket_(ioService)
    , sender_endpoint_(udp::v4(), 0)
{
    trace("MulticastReceiverCloud::MulticastReceiverCloud\n");
    try {
        listenToGroup(socket_, group, membership_);
        start_receive();
    } catch (...) {
        noteException("MulticastReceiverCloud::MulticastReceiverCloud");
    }
}

MulticastReceiverCloud::~MulticastReceiverCloud()
{
    boost::system::error_code ignored;
    socket_.close(ignored);
}

void MulticastReceiverCloud::rejoin()
{
    rejoinGroup(socket_, membership_);
}

void MulticastReceiverCloud::start_receive()
{
    std::weak_ptr<bool> alive = alive_;
    socket_.async_receive_from(
        data_.whole(), sender_endpoint_,
        [this, alive, memory = data_.owner()](const boost::system::error_code& error,
                                              std::size_t bytesReceived) {
            (void)memory;  // held until the receive has completed
            if (!alive.expired())
                handle_receive_from(error, bytesReceived);
        });
}

void MulticastReceiverCloud::handle_receive_from(const boost::system::error_code& error,
                                                 std::size_t bytesReceived)
{
    if (error) {
        if (!zq::socketClosed(error))
            start_receive();
        return;
    }
    trace("MulticastReceiverCloud::handle_receive_from\n");
    std::size_t taken = bytesReceived < kReceiveSize ? bytesReceived : kReceiveSize;
    std::string text = takeDatagram(data_.data(), taken);
    if (taken >= kShortestInterpreted)
        parseMcZqMessage(text);
    start_receive();
}

void MulticastReceiverCloud::parseMcZqMessage(const std::string& text)
{
    trace("MulticastReceiverCloud::parseMcZqMessage\n");
    if (!isConfigMessage(text))
        return;
    // Set even when the element is missing: the cloud server is then unknown.
    std::string cloudServer = getXmlStringValue(kCloudServerTag, text);
    if (zq::gServer != nullptr)
        zq::gServer->mCloudServer.set(cloudServer);
}
