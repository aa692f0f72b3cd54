// The view's side of the view channel (net/view_protocol.h): a UDP socket on
// loopback that asks the running agent's request server for what its dialog
// shows. Every wait is bounded, so that the dialog's thread, which asks,
// never hangs on an agent that has gone.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "app/main_dialog.h"
#include "net/protocol.h"
#include "net/view_protocol.h"

// How long a view waits for each reply, and how long the entry's probe waits
// for an agent to answer: both far below the dialog's refresh period.
constexpr std::chrono::milliseconds kViewReplyTimeout{200};
constexpr std::chrono::milliseconds kViewProbeTimeout{250};
// How long the entry waits for an agent that holds the request port but may
// not run its I/O loop yet (it looks up its host's addresses first): the
// request waits in the port's queue until the loop takes it.
constexpr std::chrono::milliseconds kViewStartingAgentTimeout{2000};
// Replies one refresh asks for while the agent says more lines are due.
constexpr int kViewRoundsPerRefresh = 32;

class ViewClient {
public:
    // A socket bound to 127.0.0.1 (any port) and aimed at the agent's
    // request port there; errors leave as exceptions.
    explicit ViewClient(unsigned short agentPort = zq::kRequestPort,
                        std::chrono::milliseconds timeout = kViewReplyTimeout);
    ViewClient(const ViewClient&) = delete;
    ViewClient& operator=(const ViewClient&) = delete;

    // One request for the event lines from number from on, naming the run
    // last heard from, and its reply; nothing when no well-formed reply to it
    // came within the timeout (or the agent's port refused it).
    std::optional<zq::ViewReply> exchange(std::uint64_t from);

    // One refresh's worth: the texts and the lines new since the last poll,
    // asking again at once while the agent says more are due. An agent that
    // has started again since (another run) answers from its oldest line,
    // and the view goes on from there. Adds a note
    // line once when the agent stops answering and once when it answers again.
    DialogUpdate poll();

    // "127.0.0.1:45654": the agent's address, as the notes name it.
    std::string agentText() const;

private:
    // Opens the socket, binds and connects it; errors leave as exceptions.
    void open();
    // The size of the datagram received before deadline, or nothing.
    std::optional<std::size_t> receiveBefore(std::chrono::steady_clock::time_point deadline);

    boost::asio::io_context io_;
    boost::asio::ip::udp::socket socket_;
    boost::asio::ip::udp::endpoint agent_;
    std::chrono::milliseconds timeout_;
    std::vector<char> buffer_;
    std::uint64_t next_ = 0;
    std::uint64_t run_ = 0;  // the run last heard from; 0 before the first reply
    bool answering_ = true;
};

// Whether an agent answers a view request on this machine within timeout.
bool agentAnswers(std::chrono::milliseconds timeout = kViewProbeTimeout, unsigned short agentPort = zq::kRequestPort);
