// What the fuzz targets share: a private network namespace for those that use
// sockets, a bounded wait for I/O completions, and the report of a broken
// expectation (which ends the run, so that libFuzzer keeps the input).
#pragma once

#include <chrono>
#include <string>

#include <boost/asio/io_service.hpp>
#include "support/run_until.h"

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


}  // namespace fuzz

// Checks an expectation of a fuzz target; a broken one aborts the run.
#define FUZZ_CHECK(condition, detail)                  \
    do {                                               \
        if (!(condition))                              \
            ::fuzz::fail(#condition, (detail));        \
    } while (false)
