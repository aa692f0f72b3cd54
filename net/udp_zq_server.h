// The request server: answers "STATUS_REQUEST " datagrams on UDP port 45654
// with a short status document sent back to the requester's address and port,
// and view requests from this machine (loopback only) with what the dialog
// shows (net/view_protocol.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>

#include "net/datagram.h"
#include "net/protocol.h"
#include "net/request_rate_limit.h"
#include "net/view_protocol.h"
#include "service/tick_clock.h"

namespace zq {

// The base record of a request; this system leaves its fields empty.
class UdpZqData {
public:
    UdpZqData() = default;
    virtual ~UdpZqData() = default;

    boost::asio::ip::udp::endpoint data_endpoint_;
    std::string data_text_;
    std::string data_extra_;
};

// One decoded request: its sender and its text.
class UdpZqMessage : public UdpZqData {
public:
    UdpZqMessage() = default;
    UdpZqMessage(const UdpZqMessage&) = delete;
    UdpZqMessage& operator=(const UdpZqMessage&) = delete;
    ~UdpZqMessage() override;

    boost::asio::ip::udp::endpoint endpoint_;
    std::string message_;
};

class UdpZqServer {
public:
    // Binds the IPv4 any-address at port (45654 for the agent; tests may
    // choose another). A failure to open or bind leaves as an exception.
    explicit UdpZqServer(boost::asio::io_service& ioService, unsigned short port = kRequestPort);
    UdpZqServer(const UdpZqServer&) = delete;
    UdpZqServer& operator=(const UdpZqServer&) = delete;
    virtual ~UdpZqServer();

    void start_receive();
    void handle_receive(const boost::system::error_code& error, std::size_t bytesTransferred);
    void parseZqMessage(std::size_t bytesTransferred);
    std::shared_ptr<UdpZqMessage> decodeZqMessage(const std::string& text);
    void handle_BEACON_CFG_ALARM(std::shared_ptr<UdpZqMessage> request);
    void handle_STATUS_REQUEST(std::shared_ptr<UdpZqMessage> request);
    void handle_VIEW_REQUEST(std::shared_ptr<UdpZqMessage> request, const ViewRequest& asked);

    // Where a view reply takes the dialog's texts from; called on the
    // worker thread. Without one, view requests go unanswered.
    using ViewSource = std::function<ViewTexts()>;
    void setViewSource(ViewSource source) { view_source_ = std::move(source); }

    // The number that names this run of the agent to its views: chosen once
    // a process, at random, never 0. The event lines' numbers count from 0
    // in each run.
    static std::uint64_t run();

    // The port the socket is bound to (what the system chose for port 0).
    unsigned short port() const;

    // How long a status reply's host address, once looked up, serves later
    // replies, on the clock of service/tick_clock.h (a test may move it).
    static constexpr std::chrono::milliseconds kHostAddressLifetime{1000};

private:
    // The host's address for a status reply: looked up afresh at most once
    // per kHostAddressLifetime.
    const std::string& replyHostAddress();
    // Whether the reply limit lets a reply go to requester; reports the
    // requests it dropped when a report is due.
    bool replyAllowed(const boost::asio::ip::udp::endpoint& requester);
    // Reports the drops counted, when a report is due at now.
    void reportDrops(RequestRateLimit::Clock::time_point now);
    bool droppedUnread();
    bool takeDatagramWithinLimit(boost::system::error_code& error, std::size_t& bytesReceived);
    // Receives a datagram that is already waiting, as a completion would get
    // it; false, with nothing received, when none is waiting.
    bool takeWaitingDatagram(boost::system::error_code& error, std::size_t& bytesReceived);
    // Sends the reply to to, waiting for room in the socket's send buffer;
    // the one send path of status and view replies.
    void sendReply(const std::string& reply, const boost::asio::ip::udp::endpoint& to);
    // The most datagrams that one completion handles before the I/O loop's
    // other handlers run.
    static constexpr int kDatagramsPerTurn = 16;
    // The most datagrams dropped unread in one completion: a drop costs one
    // receive, so many go before the I/O loop's other handlers run.
    static constexpr int kDropsPerTurn = 256;

    boost::asio::ip::udp::socket socket_;
    DatagramBuffer recv_buffer_;
    std::string host_address_;
    TickClock::time_point host_address_time_;
    bool have_host_address_ = false;
    RequestRateLimit rate_limit_;
    ViewSource view_source_;
    // Expires when this object goes, so that a receive completing later
    // never calls into it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Whether endpoint is on this machine's loopback network (127.0.0.0/8): the
// only sources that view requests are answered to.
bool isLoopbackSource(const boost::asio::ip::udp::endpoint& endpoint);

// Address, a colon and the port: "192.168.1.20:34543".
std::string endpointToText(const boost::asio::ip::udp::endpoint& endpoint);

}  // namespace zq
