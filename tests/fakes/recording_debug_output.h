// A trace sink that records every text, for tests that check trace lines.
#pragma once

#include <string>
#include <vector>

namespace recording {

std::vector<std::string> traceTexts();
// Every recorded text, run together as a viewer would show them.
std::string traceJoined();
void clearTrace();

}  // namespace recording
