#include "fakes/recording_debug_output.h"

#include <mutex>

#include "app/trace.h"

namespace {
std::mutex gMutex;
std::vector<std::string> gTexts;
}  // namespace

void debugOutput(const char* text)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gTexts.emplace_back(text);
}

namespace recording {

std::vector<std::string> traceTexts()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gTexts;
}

std::string traceJoined()
{
    std::lock_guard<std::mutex> lock(gMutex);
    std::string joined;
    for (const std::string& text : gTexts)
        joined += text;
    return joined;
}

void clearTrace()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gTexts.clear();
}

}  // namespace recording
