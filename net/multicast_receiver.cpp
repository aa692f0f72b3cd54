// The two configuration receivers. Both are a GroupReceiver: its socket is
// set up, receives and hands over each datagram (echo, trace, event log, CPU
// sample) the same way; the two differ only in what they take out of a
// configuration message.
#include "net/multicast_receiver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <utility>

#include <unistd.h>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/multicast.hpp>

#include "config/xml_value.h"
#include "hostinfo/cpu_usage.h"
#include "net/multicast_delivery.h"
#include "net/protocol.h"
#include "service/zq_server.h"
#include "trace/control_escape.h"
#include "trace/trace.h"

namespace {

using boost::asio::ip::udp;

const char kListenAddress[] = "0.0.0.0";
// How long a group join that failed waits before it is tried again.
constexpr auto kRejoinAfter = std::chrono::seconds(30);
const char kCloudServerTag[] = "<srvIpAddr>";

// Binds the agent's port on every local IPv4 address and joins group on
// every local interface. Throws when the socket cannot be set up; joins that
// fail are traced and tried again by rejoin().
void listenToGroup(udp::socket& socket, const std::string& group, GroupMembership& membership)
{
    membership.setGroup(group);
    udp::endpoint listen(boost::asio::ip::make_address(kListenAddress), zq::kAgentPort);
    socket.open(listen.protocol());
    // Without this a socket on the any-address would also take the other
    // receiver's group.
    multicastdelivery::onlyJoinedGroups(socket);
    // Both receivers, and other programs, bind the same port.
    socket.set_option(udp::socket::reuse_address(true));
    socket.bind(listen);
    membership.join(socket);
}

// Whether the socket was set up (a receiver that could not bind its port
// stays disabled).
bool listening(const udp::socket& socket)
{
    boost::system::error_code error;
    return socket.is_open() && socket.local_endpoint(error).port() == zq::kAgentPort && !error;
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
    return text.find(zq::kConfigKeyword) != std::string::npos;
}

}  // namespace

namespace zq {

GroupReceiver::GroupReceiver(boost::asio::io_service& ioService, const std::string& group, const std::string& name,
                             Interpret interpret)
    : received_(name + "::handle_receive_from\n")
    , interpret_(std::move(interpret))
    , socket_(ioService)
    , rejoin_timer_(ioService)
    , sender_endpoint_(udp::v4(), 0)
{
    const std::string constructor = name + "::" + name;
    trace("%s\n", constructor.c_str());
    try {
        listenToGroup(socket_, group, membership_);
        start_receive();
        schedule_rejoin();
    } catch (...) {
        noteException(constructor.c_str());
    }
}

GroupReceiver::~GroupReceiver()
{
    boost::system::error_code ignored;
    socket_.close(ignored);
}

void GroupReceiver::rejoin()
{
    if (!listening(socket_))
        return;
    membership_.join(socket_);
    schedule_rejoin();
}

void GroupReceiver::schedule_rejoin()
{
    // One wait at a time; a rejoin in between (the host's addresses changed)
    // leaves it running.
    if (rejoin_pending_ || !membership_.missingSomewhere())
        return;
    rejoin_pending_ = true;
    rejoin_timer_.expires_after(kRejoinAfter);
    std::weak_ptr<bool> alive = alive_;
    rejoin_timer_.async_wait([this, alive](const boost::system::error_code& error) {
        if (alive.expired() || error == boost::asio::error::operation_aborted)
            return;
        rejoin_pending_ = false;
        rejoin();
    });
}

void GroupReceiver::start_receive()
{
    armReceive(socket_, data_, sender_endpoint_, alive_, this, &GroupReceiver::handle_receive_from);
}

void GroupReceiver::handle_receive_from(const boost::system::error_code& error, std::size_t bytesReceived)
{
    if (error) {
        // An error of one receive (a reset reported for an earlier send, a
        // datagram too large) says nothing about the next datagram; only a
        // closed socket ends the receiver.
        if (!socketClosed(error))
            start_receive();
        return;
    }
    trace("%s", received_.c_str());
    std::size_t taken = std::min(bytesReceived, kGroupReceiveSize);
    std::string text = takeDatagram(data_.data(), taken);
    if (taken >= kShortestInterpreted)
        interpret_(text);
    start_receive();
}

}  // namespace zq

MulticastReceiver::MulticastReceiver(boost::asio::io_service& ioService, std::string group)
    : receiver_(ioService, group, "MulticastReceiver", [this](const std::string& text) { parseMcZqMessage(text); })
{
}

MulticastReceiver::~MulticastReceiver() = default;

void MulticastReceiver::handle_receive_from(const boost::system::error_code& error, std::size_t bytesReceived)
{
    receiver_.handle_receive_from(error, bytesReceived);
}

void MulticastReceiver::rejoin()
{
    receiver_.rejoin();
}

void MulticastReceiver::parseMcZqMessage(const std::string& text)
{
    trace("MulticastReceiver::parseMcZqMessage\n");
    if (isConfigMessage(text) && zq::gServer != nullptr)
        zq::ZqServer::setCrossOver(text);
}

MulticastReceiverCloud::MulticastReceiverCloud(boost::asio::io_service& ioService, std::string group)
    : receiver_(ioService, group, "MulticastReceiverCloud",
                [this](const std::string& text) { parseMcZqMessage(text); })
{
}

MulticastReceiverCloud::~MulticastReceiverCloud() = default;

void MulticastReceiverCloud::handle_receive_from(const boost::system::error_code& error,
                                                 std::size_t bytesReceived)
{
    receiver_.handle_receive_from(error, bytesReceived);
}

void MulticastReceiverCloud::rejoin()
{
    receiver_.rejoin();
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
