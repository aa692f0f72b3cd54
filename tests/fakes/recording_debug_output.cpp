#include "fakes/recording_debug_output.h"

#include <algorithm>
#include <mutex>

#include "trace/trace.h"

namespace {
std::mutex gMutex;
std::vector<std::string> gTexts;
std::string gDiagnostics;
}  // namespace

bool debugOutputOn()
{
    return true;
}

void debugOutput(const char* text)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gTexts.emplace_back(text);
}

// Recorded at once: nothing to batch.
TraceBatch::TraceBatch() = default;
TraceBatch::~TraceBatch() = default;

void diagnosticOutput(const char* data, std::size_t length)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gDiagnostics.append(data, length);
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

std::size_t traceCount(const std::string& text)
{
    std::lock_guard<std::mutex> lock(gMutex);
    return static_cast<std::size_t>(std::count(gTexts.begin(), gTexts.end(), text));
}

std::size_t traceCountStarting(const std::string& prefix)
{
    std::lock_guard<std::mutex> lock(gMutex);
    return static_cast<std::size_t>(std::count_if(
        gTexts.begin(), gTexts.end(), [&](const std::string& text) { return text.rfind(prefix, 0) == 0; }));
}

void clearTrace()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gTexts.clear();
}

std::string takeDiagnostics()
{
    std::lock_guard<std::mutex> lock(gMutex);
    std::string taken;
    taken.swap(gDiagnostics);
    return taken;
}

}  // namespace recording
