// The view client: one request, one reply, each wait bounded by a timer on an
// I/O loop of the client's own, run only while it waits.
#include "app/view_client.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include "net/datagram.h"

namespace asio = boost::asio;
using asio::ip::udp;

ViewClient::ViewClient(unsigned short agentPort, std::chrono::milliseconds timeout)
    : socket_(io_)
    , agent_(asio::ip::address_v4::loopback(), agentPort)
    , timeout_(timeout)
    , buffer_(zq::DatagramBuffer::kSize)
{
    open();
}

void ViewClient::open()
{
    socket_.open(udp::v4());
    socket_.bind(udp::endpoint(asio::ip::address_v4::loopback(), 0));
    // Connected, so that only the agent's port is heard, and so that a port
    // that nobody holds answers at once with a refusal instead of a silence.
    socket_.connect(agent_);
}

std::string ViewClient::agentText() const
{
    return agent_.address().to_string() + ":" + std::to_string(agent_.port());
}

std::optional<std::size_t> ViewClient::receiveBefore(std::chrono::steady_clock::time_point deadline)
{
    bool done = false;
    boost::system::error_code error;
    std::size_t received = 0;
    socket_.async_receive(asio::buffer(buffer_), [&](const boost::system::error_code& e, std::size_t n) {
        error = e;
        received = n;
        done = true;
    });
    io_.restart();
    io_.run_until(deadline);
    if (!done) {
        // The receive ends and its handler runs before this returns: it
        // refers to locals of this call. Closing ends it on every platform
        // (a cancel may not be supported); the next exchange opens anew.
        boost::system::error_code ignored;
        socket_.close(ignored);
        io_.restart();
        io_.run();
        return std::nullopt;
    }
    if (error)
        return std::nullopt;
    return received;
}

std::optional<zq::ViewReply> ViewClient::exchange(std::uint64_t from)
{
    boost::system::error_code error;
    if (!socket_.is_open()) {
        try {
            open();
        } catch (const boost::system::system_error&) {
            socket_.close(error);
            return std::nullopt;
        }
    }
    // Replies to earlier requests that came after their time are dropped.
    while (socket_.available(error) > 0 && !error)
        socket_.receive(asio::buffer(buffer_), 0, error);

    std::string request = zq::encodeViewRequest(from, run_);
    socket_.send(asio::buffer(request), 0, error);
    if (error == asio::error::connection_refused)  // the refusal of an earlier request
        socket_.send(asio::buffer(request), 0, error);
    if (error)
        return std::nullopt;
    auto deadline = std::chrono::steady_clock::now() + timeout_;
    while (std::optional<std::size_t> size = receiveBefore(deadline)) {
        std::optional<zq::ViewReply> reply = zq::parseViewReply(buffer_.data(), *size);
        if (reply && reply->asked == from)
            return reply;
    }
    return std::nullopt;
}

DialogUpdate ViewClient::poll()
{
    DialogUpdate update;
    for (int round = 0; round < kViewRoundsPerRefresh; ++round) {
        std::optional<zq::ViewReply> reply = exchange(next_);
        if (!reply) {
            if (round == 0 && answering_) {
                update.lines.push_back(" View= no answer from the agent at " + agentText() + "; waiting for it");
                answering_ = false;
            }
            break;
        }
        if (!answering_) {
            update.lines.push_back(" View= the agent at " + agentText() + " answers again");
            answering_ = true;
        }
        update.hasTexts = true;
        update.texts = std::move(reply->texts);
        run_ = reply->run;
        next_ = reply->next();
        for (std::string& line : reply->lines)
            update.lines.push_back(std::move(line));
        if (!reply->more)
            break;
    }
    return update;
}

bool agentAnswers(std::chrono::milliseconds timeout, unsigned short agentPort)
{
    try {
        ViewClient probe(agentPort, timeout);
        return probe.exchange(0).has_value();
    } catch (const std::exception&) {
        return false;
    }
}
