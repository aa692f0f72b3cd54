// A trace sink that records every text, for tests that check trace lines,
// and the standard-error diagnostics apart from them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace recording {

std::vector<std::string> traceTexts();
// Every recorded text, run together as a viewer would show them.
std::string traceJoined();
// How many recorded texts are exactly text.
std::size_t traceCount(const std::string& text);
// How many recorded texts begin with prefix.
std::size_t traceCountStarting(const std::string& prefix);
void clearTrace();

// The diagnostics written since the last take (the CPU sampler's and the
// operating-system description's lines), run together; taking empties them.
std::string takeDiagnostics();

}  // namespace recording
