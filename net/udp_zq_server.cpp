// The request server: one receive always pending on its port; a datagram that
// holds "STATUS_REQUEST " is answered with the status document, one that holds
// "BEACON_CFG_ALARM " is only acknowledged in the trace, and a view request
// from loopback is answered with the dialog's texts and event lines.
#include "net/udp_zq_server.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>

#include "config/document_text.h"
#include "config/ip_utils.h"
#include "hostinfo/cpu_usage.h"
#include "hostinfo/os_description.h"
#include "net/port_unreachable.h"
#include "trace/trace.h"

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

namespace zq {

namespace {

// The sender of the datagram being received. There is one request server, so
// only its one pending receive ever writes this, and its completion reads it
// before the next receive starts.
boost::asio::ip::udp::endpoint remote_endpoint_;

// The received bytes up to the first zero byte, never beyond the bytes read:
// a datagram that fills the buffer has no zero after it.
std::string requestText(const DatagramBuffer& buffer, std::size_t bytesTransferred)
{
    return buffer.textUpToZero(std::min(bytesTransferred, kUnicastReceiveSize));
}

std::string hostAddressText()
{
    return ipIntToString(resolveIpInt(""));
}

// The operating system description, up to its first zero byte. It does not
// change while the agent runs, so it is composed once, at the first status
// request: reading and parsing os-release for every request was about a
// third of the instructions of a reply.
const std::string& osDescriptionText()
{
    static const std::string text = buildOsDescription().c_str();
    return text;
}

// Dotted decimal of an IPv4 address in network order, as inet_ntop writes it.
void appendDottedQuad(std::string& out, const boost::asio::ip::address_v4::bytes_type& bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out += '.';
        unsigned value = bytes[i];
        if (value >= 100)
            out += static_cast<char>('0' + value / 100);
        if (value >= 10)
            out += static_cast<char>('0' + value / 10 % 10);
        out += static_cast<char>('0' + value % 10);
    }
}

}  // namespace

UdpZqMessage::~UdpZqMessage()
{
    trace("UdpZqMessage::~UdpZqMessage");
}

bool isLoopbackSource(const boost::asio::ip::udp::endpoint& endpoint)
{
    return endpoint.address().is_v4() && endpoint.address().to_v4().is_loopback();
}

std::string endpointToText(const boost::asio::ip::udp::endpoint& endpoint)
{
    // The text of an IPv4 address is formed here: the library's to_string
    // goes through inet_ntop and sprintf, and this runs three times for
    // every request.
    if (endpoint.address().is_v4()) {
        std::string text;
        text.reserve(21);
        appendDottedQuad(text, endpoint.address().to_v4().to_bytes());
        text += ':';
        text += std::to_string(endpoint.port());
        return text;
    }
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

// Opening and binding happen in the member initialiser, so their failure
// (the port held by another program) leaves the constructor as an exception.
UdpZqServer::UdpZqServer(boost::asio::io_service& ioService, unsigned short port)
    : socket_(ioService, boost::asio::ip::udp::endpoint(boost::asio::ip::udp::v4(), port))
    , rate_limit_(std::random_device()())
{
    trace("==>  UdpZqServer::UdpZqServer\n");
    try {
        portunreachable::ignore(socket_);
        // Receives and sends that cannot go on at once report it instead of
        // waiting (takeWaitingDatagram, sendReply); the asynchronous receive
        // is not affected.
        socket_.non_blocking(true);
        std::string serverAddress = hostAddressText() + ":" + kRequestPortText;
        trace("UdpZqServer::UdpZqServer  UDP SERVER ADDRESS=[%s]\n", serverAddress.c_str());
        start_receive();
    } catch (...) {
        noteException("UdpZqServer::UdpZqServer");
    }
    trace("<==  UdpZqServer::UdpZqServer\n");
}

UdpZqServer::~UdpZqServer()
{
    trace("<> UdpZqServer::~UdpZqServer\n");
    boost::system::error_code ignored;
    socket_.close(ignored);
}

// A lookup of the host's own name goes through the system's resolver (hosts
// file, DNS) and cost a third of a reply; a flood of requests must not become
// a flood of lookups. An address changes rarely, and a reply may show a new
// one at most a second late.
const std::string& UdpZqServer::replyHostAddress()
{
    auto now = TickClock::now();
    if (!have_host_address_ || now - host_address_time_ >= kHostAddressLifetime) {
        host_address_ = hostAddressText();
        host_address_time_ = now;
        have_host_address_ = true;
    }
    return host_address_;
}

// Requests over the reply limit go unanswered; how many is reported at most
// once a minute, when a request comes.
bool UdpZqServer::replyAllowed(const boost::asio::ip::udp::endpoint& requester)
{
    auto now = RequestRateLimit::Clock::now();
    bool allowed = !requester.address().is_v4() || rate_limit_.allow(requester.address().to_v4().to_uint(), now);
    reportDrops(now);
    return allowed;
}

void UdpZqServer::reportDrops(RequestRateLimit::Clock::time_point now)
{
    if (std::uint64_t drops = rate_limit_.takeDropsToReport(now)) {
        std::string count = std::to_string(drops);
        trace("UdpZqServer  REPLIES DROPPED BY RATE LIMIT=[%s]\n", count.c_str());
        gEventLog.append("\r ZqServer= UdpZqServer  REPLIES DROPPED BY RATE LIMIT=[", count, "]\r");
    }
}

unsigned short UdpZqServer::port() const
{
    boost::system::error_code error;
    boost::asio::ip::udp::endpoint local = socket_.local_endpoint(error);
    return error ? 0 : local.port();
}

void UdpZqServer::start_receive()
{
    trace("<> UdpZqServer::start_receive\n");
    std::memset(recv_buffer_.data(), 0, kUnicastClearedBytes);
    armReceive(socket_, recv_buffer_, remote_endpoint_, alive_, this, &UdpZqServer::handle_receive);
}

void UdpZqServer::handle_receive(const boost::system::error_code& error, std::size_t bytesReceived)
{
    boost::system::error_code result = error;
    for (int turn = 1;; ++turn) {
        // A flood's datagrams over the reply limit go at once, untraced and
        // unread; the first one that is not is handled as usual.
        if (datagramDelivered(result) && droppedUnread() && !takeDatagramWithinLimit(result, bytesReceived)) {
            std::memset(recv_buffer_.data(), 0, kUnicastClearedBytes);
            armReceive(socket_, recv_buffer_, remote_endpoint_, alive_, this, &UdpZqServer::handle_receive);
            return;
        }
        trace("==>  UdpZqServer::handle_receive\n");
        // Only the first bytes of a longer datagram are read, and it counts as
        // that long.
        std::size_t bytesTransferred = std::min(bytesReceived, kUnicastReceiveSize);
        if (datagramDelivered(result)) {
            // The texts of the values are composed only for a trace that is on.
            if (debugOutputOn()) {
                trace("RX DATA FROM=[%s]\n", endpointToText(remote_endpoint_).c_str());
                trace("SIP RX DATA  bytes_transferred=[%i] data=[%s]\n", static_cast<int>(bytesTransferred),
                      requestText(recv_buffer_, bytesTransferred).c_str());
            }
            if (bytesTransferred >= kShortestInterpreted)
                parseZqMessage(bytesTransferred);
        }
        // Whatever happened, the server goes on listening: an error such as an
        // earlier reply finding no listener says nothing about the next
        // request. A datagram that is already waiting is taken at once, as the
        // completion of that next receive would take it, with the same trace;
        // after kDatagramsPerTurn of them the I/O loop runs its other handlers
        // (the tick, the multicast receivers) first.
        if (turn >= kDatagramsPerTurn) {
            start_receive();
            trace("<==  UdpZqServer::handle_receive\n");
            return;
        }
        trace("<> UdpZqServer::start_receive\n");
        std::memset(recv_buffer_.data(), 0, kUnicastClearedBytes);
        if (takeWaitingDatagram(result, bytesReceived)) {
            trace("<==  UdpZqServer::handle_receive\n");
            continue;
        }
        armReceive(socket_, recv_buffer_, remote_endpoint_, alive_, this, &UdpZqServer::handle_receive);
        trace("<==  UdpZqServer::handle_receive\n");
        return;
    }
}

// Whether the datagram just received comes from a source over the reply
// limit: it is dropped without a look at its bytes, a parse or a trace, so
// that a flood costs one receive a datagram and no more. Its drop is counted
// and reported with the others.
bool UdpZqServer::droppedUnread()
{
    if (!remote_endpoint_.address().is_v4())
        return false;
    auto now = RequestRateLimit::Clock::now();
    bool dropped = rate_limit_.overLimit(remote_endpoint_.address().to_v4().to_uint(), now);
    if (dropped)
        reportDrops(now);
    return dropped;
}

// Takes the datagrams that are waiting, dropping those over the limit as
// droppedUnread does, up to kDropsPerTurn of them; true with the first one
// that is to be handled (or a receive error), false when none is waiting or
// the turn is over.
bool UdpZqServer::takeDatagramWithinLimit(boost::system::error_code& error, std::size_t& bytesReceived)
{
    for (int drops = 1; drops < kDropsPerTurn; ++drops) {
        std::memset(recv_buffer_.data(), 0, kUnicastClearedBytes);
        if (!takeWaitingDatagram(error, bytesReceived))
            return false;
        if (!datagramDelivered(error) || !droppedUnread())
            return true;
    }
    return false;
}

// Under load the next request is usually queued already; receiving it here
// saves the I/O loop's round (a poll of the sockets and a posted completion)
// for each request. The socket does not wait (see the constructor), so when
// nothing is queued this returns at once.
bool UdpZqServer::takeWaitingDatagram(boost::system::error_code& error, std::size_t& bytesReceived)
{
    boost::system::error_code got;
    std::size_t bytes = socket_.receive_from(recv_buffer_.whole(), remote_endpoint_, 0, got);
    if (got == boost::asio::error::would_block || got == boost::asio::error::try_again)
        return false;
    error = got;
    bytesReceived = bytes;
    return true;
}

// A reply goes out whole: when the socket's send buffer is full, the send
// waits until it has room, as a blocking send would. The socket does not wait
// (see the constructor), and a wait for room on a socket so marked returns at
// once with "would block"; so for this one send the socket waits again, and
// the send blocks until the system takes the datagram. Its failure leaves as
// the system error of "send_to".
void UdpZqServer::sendReply(const std::string& reply, const boost::asio::ip::udp::endpoint& to)
{
    boost::system::error_code error;
    socket_.send_to(boost::asio::buffer(reply), to, 0, error);
    if (error == boost::asio::error::would_block || error == boost::asio::error::try_again) {
        socket_.non_blocking(false);
        error = boost::system::error_code();
        socket_.send_to(boost::asio::buffer(reply), to, 0, error);
        socket_.non_blocking(true);
    }
    if (error)
        throw boost::system::system_error(error, "send_to");
}

void UdpZqServer::parseZqMessage(std::size_t bytesTransferred)
{
    trace("UdpZqServer::parseZqMessage\n");
    std::string text = requestText(recv_buffer_, bytesTransferred);
    if (text.empty())
        return;
    if (debugOutputOn())
        trace("RX DATA FROM=[%s]\n", endpointToText(remote_endpoint_).c_str());
    // A text that holds both keywords is a configuration request.
    if (text.find(kBeaconKeyword) != std::string::npos) {
        trace("BEACON_CFG_ALARM ");
        handle_BEACON_CFG_ALARM(decodeZqMessage(text));
    } else if (text.find(kStatusKeyword) != std::string::npos) {
        trace("STATUS_REQUEST");
        handle_STATUS_REQUEST(decodeZqMessage(text));
    } else if (isLoopbackSource(remote_endpoint_)) {
        // Views run on this machine; from anywhere else a view request is
        // ignored like any other datagram, so the network learns nothing.
        if (std::optional<ViewRequest> asked = parseViewRequest(text)) {
            trace("VIEW_REQUEST");
            handle_VIEW_REQUEST(decodeZqMessage(text), *asked);
        }
    }
}

std::shared_ptr<UdpZqMessage> UdpZqServer::decodeZqMessage(const std::string& text)
{
    trace("UdpZqServer::decodeZqMessage");
    std::shared_ptr<UdpZqMessage> request = std::make_shared<UdpZqMessage>();
    request->message_ = text;
    request->endpoint_ = remote_endpoint_;
    return request;
}

void UdpZqServer::handle_BEACON_CFG_ALARM(std::shared_ptr<UdpZqMessage> request)
{
    trace("UdpZqServer::handle_BEACON_CFG_ALARM");
    // Configuration comes from the multicast groups only; this port merely
    // acknowledges it in the trace.
    request.reset();
}

void UdpZqServer::handle_STATUS_REQUEST(std::shared_ptr<UdpZqMessage> request)
{
    trace("UdpZqServer::handle_STATUS_REQUEST");
    if (!replyAllowed(request->endpoint_)) {
        request.reset();
        return;
    }
    // A reply that cannot be sent costs that one reply only: the caller goes
    // on to start the next receive.
    runGuarded("UdpZqServer::handle_STATUS_REQUEST", [&] {
        std::shared_ptr<std::string> reply = std::make_shared<std::string>();
        *reply += "<status>";
        appendElement(*reply, "ipAddr", replyHostAddress());
        appendElement(*reply, "ipPort", kRequestPortText);
        appendElement(*reply, "cpuPercent", std::to_string(CpuUsage::getCpuTotalUsage()));
        appendElement(*reply, "os", osDescriptionText());
        *reply += "</status>";
        if (debugOutputOn())
            trace("remote_endpoint_=[%s]\n", endpointToText(request->endpoint_).c_str());
        sendReply(*reply, request->endpoint_);
    });
    request.reset();
}

std::uint64_t UdpZqServer::run()
{
    // The clock as well, should the random device be a fixed sequence.
    static const std::uint64_t chosen = [] {
        std::random_device device;
        std::uint64_t number = (static_cast<std::uint64_t>(device()) << 32) ^ device() ^
                               static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        return number != 0 ? number : 1;
    }();
    return chosen;
}

// Reads nothing but copies: the texts through the view source, the event
// lines through the log's history, which the dialog's drains do not touch.
// A view that last heard from another run gets this run's lines from the
// oldest kept: its numbers belong to that run.
void UdpZqServer::handle_VIEW_REQUEST(std::shared_ptr<UdpZqMessage> request, const ViewRequest& asked)
{
    trace("UdpZqServer::handle_VIEW_REQUEST");
    if (view_source_) {
        runGuarded("UdpZqServer::handle_VIEW_REQUEST", [&] {
            std::optional<std::uint64_t> run;
            if (asked.run)
                run = UdpZqServer::run();
            ViewReplyBuilder builder(asked.from, view_source_(), run);
            std::uint64_t from = asked.run && *asked.run != *run ? 0 : asked.from;
            std::uint64_t first =
                gEventLog.visitHistory(from, [&builder](const std::string& line) { return builder.addLine(line); });
            sendReply(builder.finish(first), request->endpoint_);
        });
    }
    request.reset();
}

}  // namespace zq
