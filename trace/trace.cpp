// Platform-independent part of the trace and the event log; the text reaches
// the platform through debugOutput().
#include "trace/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

EventLog gEventLog;

void trace(const char* format, ...)
{
    if (!debugOutputOn())
        return;  // nothing is written, so nothing is formatted
    // Most trace texts are plain literals: with no conversion in the format
    // and nothing to cut, the text goes out as it stands, without a copy.
    if (std::strchr(format, '%') == nullptr && std::strlen(format) < kTraceBufferSize) {
        debugOutput(format);
        return;
    }
    char buffer[kTraceBufferSize];
    va_list args;
    va_start(args, format);
    formatInto(buffer, sizeof buffer, format, args);
    va_end(args);
    debugOutput(buffer);
}

void formatInto(char* buffer, std::size_t size, const char* format, va_list args)
{
    if (std::vsnprintf(buffer, size, format, args) < 0)
        buffer[0] = '\0';
    buffer[size - 1] = '\0';
}

void EventLog::append(const char* tag, const std::string& text, const char* terminator)
{
    const char* data = text.c_str();
    std::size_t length = std::strlen(data);
    std::string entry;
    entry.reserve(std::strlen(tag) + length + std::strlen(terminator));
    entry.append(tag).append(data, length).append(terminator);
    // The history is recorded while the text's lock is held, so that both
    // see the appends of two threads in the same order.
    std::lock_guard<std::mutex> lock(mMutex);
    mText += entry;
    std::lock_guard<std::mutex> historyLock(mHistoryMutex);
    recordHistory(entry.data(), entry.size());
}

void EventLog::recordHistory(const char* data, std::size_t length)
{
    const char* end = data + length;
    const char* position = data;
    while (position < end) {
        const char* cr = static_cast<const char*>(std::memchr(position, '\r', static_cast<std::size_t>(end - position)));
        if (cr == nullptr)
            break;
        // The first piece continues the tail of earlier appends.
        std::string piece = std::move(mTail);
        mTail.clear();
        piece.append(position, cr);
        if (piece.size() > 1) {
            mHistory.push_back(std::move(piece));
            ++mNextSequence;
            if (mHistory.size() > kHistoryLines)
                mHistory.pop_front();
        }
        position = cr + 1;
    }
    mTail.append(position, end);
    if (mTail.size() > kHistoryTailLimit)
        mTail.resize(kHistoryTailLimit);
}

std::string EventLog::take()
{
    std::string taken;
    std::lock_guard<std::mutex> lock(mMutex);
    taken.swap(mText);
    return taken;
}

void noteException(const char* where)
{
    std::string line = std::string("*** EXCEPTION  ") + where + "\n";
    trace("%s", line.c_str());
    gEventLog.append("\r ZqServer= ", line, "\r");
}

std::vector<std::string> splitEventLog(const std::string& log)
{
    std::vector<std::string> lines;
    std::string::size_type position = 0;
    while (position < log.size()) {
        std::string::size_type end = log.find('\r', position);
        if (end == std::string::npos)
            break;
        if (end - position > 1)
            lines.push_back(log.substr(position, end - position));
        position = end + 1;
    }
    return lines;
}
