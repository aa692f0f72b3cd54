// Drives an I/O service by hand in tests: handlers run one at a time until a
// condition holds.
#pragma once

#include <chrono>

#include <boost/asio/io_service.hpp>

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
