// What the fuzz targets share: a private network namespace for those that use
// sockets, a bounded wait for I/O completions, and the report of a broken
// expectation (which ends the run, so that libFuzzer keeps the input).
#pragma once

#include <chrono>
#include <string>

#include <boost/asio/io_service.hpp>

namespace fuzz {

// Moves the process into a network namespace of its own, with loopback up
// and multicast routed over it, and checks that loopback is then its only
// interface. Ends the process when that cannot be done: no fuzzer touches
// the machine's real network.
void isolateNetwork();

// Sends the process's standard output to a file of its own (the multicast
// receivers echo every datagram there) and returns its descriptor.
int captureStdout();
// What has been written to standard output since the last call; empties it.
std::string takeStdout(int fd);

// The text for a report: printable ASCII, everything else as \xNN, cut after
// a few hundred characters.
std::string printable(const std::string& text);

// Reports a broken expectation and aborts.
[[noreturn]] void fail(const char* what, const std::string& detail = std::string());

// Runs handlers one at a time until done() holds; gives up after five
// seconds, so that a lost datagram is reported instead of hanging the run.
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

}  // namespace fuzz

// Checks an expectation of a fuzz target; a broken one aborts the run.
#define FUZZ_CHECK(condition, detail)                  \
    do {                                               \
        if (!(condition))                              \
            ::fuzz::fail(#condition, (detail));        \
    } while (false)
