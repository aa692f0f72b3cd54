// Drives an I/O service by hand in tests: handlers run one at a time until a
// condition holds, or a datagram has come.
#pragma once

#include <chrono>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>

// Runs handlers one at a time until done() holds. Gives up after five
// seconds, so that a lost datagram fails the test instead of hanging it.
template <typename Done>
bool runUntil(boost::asio::io_service& io, Done done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (int step = 0; step < 100000 && !done(); ++step) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            break;
        io.run_one_for(deadline - now);
        if (io.stopped())
            io.restart();
    }
    return done();
}

// Receives one datagram on socket into buffer, driving io by hand. False
// when none came before runUntil's deadline; the receive is then cancelled.
inline bool receiveOne(boost::asio::io_service& io, boost::asio::ip::udp::socket& socket,
                       boost::asio::mutable_buffer buffer, boost::asio::ip::udp::endpoint& from,
                       std::size_t& length, boost::system::error_code& result)
{
    bool done = false;
    socket.async_receive_from(buffer, from, [&](const boost::system::error_code& error, std::size_t n) {
        result = error;
        length = n;
        done = true;
    });
    if (runUntil(io, [&] { return done; }))
        return true;
    socket.cancel();
    runUntil(io, [&] { return done; });
    return false;
}
