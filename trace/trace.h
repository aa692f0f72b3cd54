// The developer trace and the event log, the agent's two diagnostic channels.
//
// trace() formats one text printf-style into its own 2048-byte buffer (longer
// texts are cut to 2047 characters) and hands it whole to the platform's
// debugger-output channel. The event log collects caught failures and received
// multicast texts until the dialog drains it.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define ZQ_PRINTF_FORMAT(fmt, args) __attribute__((format(__printf__, fmt, args)))
#else
#define ZQ_PRINTF_FORMAT(fmt, args)
#endif

// Writes one formatted trace text; never fails the caller. The format must be
// a literal of ours: texts from the network travel only as arguments.
void trace(const char* format, ...) ZQ_PRINTF_FORMAT(1, 2);

// Size of each trace call's buffer; a trace text is at most one less.
constexpr std::size_t kTraceBufferSize = 2048;

// vsnprintf into buffer (size bytes): the text, cut to size - 1 characters,
// always zero-terminated; empty when the format fails.
void formatInto(char* buffer, std::size_t size, const char* format, va_list args) ZQ_PRINTF_FORMAT(3, 0);

// The platform's debugger-output channel: takes one zero-terminated text,
// from any thread, and adds nothing to it. It never waits for a reader.
void debugOutput(const char* text);

// While one is alive, the trace texts of its thread are handed to the
// output together when it ends instead of one by one (on Linux, where a
// writer thread writes them: one wake-up and one write for a tick's texts).
// Nothing is held back from the queue, dropped or reordered.
class TraceBatch {
public:
    TraceBatch();
    ~TraceBatch();
    TraceBatch(const TraceBatch&) = delete;
    TraceBatch& operator=(const TraceBatch&) = delete;
};

// Whether debugOutput and diagnosticOutput write anything at all (on Linux
// the trace can be switched off); when not, callers need not compose their
// texts. Decided once, before the worker thread starts.
bool debugOutputOn();

// The other diagnostics (the CPU sampler's lines and the operating-system
// description's): one zero-terminated text to standard error, beside the
// trace, never to standard output, which on Linux is the console view alone.
// Where the trace is switched off, these are too.
// The bytes go out as they are, zero bytes included.
void diagnosticOutput(const char* data, std::size_t length);
inline void diagnosticOutput(const char* text)
{
    diagnosticOutput(text, std::strlen(text));
}

// Whether the trace and the diagnostics go to standard error on Linux,
// decided once at start: BRINDLEMOOR_WATCHDOG_TRACE=1 turns them on and =0
// off. Without it they are on, but where standard error is a terminal (where
// the console's panel would be buried under them) or the systemd journal (the
// service, so that a network flood cannot flood the journal unless a drop-in
// asks for the trace). journalStream is the JOURNAL_STREAM variable that
// systemd sets ("DEVICE:INODE" of the journal's stream, or null), device and
// inode those of standard error (hasStandardError false when it is closed),
// terminal whether standard error is a terminal, traceSetting the
// BRINDLEMOOR_WATCHDOG_TRACE variable (or null).
bool traceWanted(const char* journalStream, bool hasStandardError, unsigned long long device,
                 unsigned long long inode, bool terminal, const char* traceSetting);

// One process-wide text of entries, each starting with a carriage return.
// Appends and drains are atomic with respect to each other.
//
// Beside the text that take() drains, the log keeps a history for the views
// of a running agent, which must see every line whoever drains the text: the
// newest kHistoryLines list lines, split as the dialog splits the drained
// text (pieces between carriage returns longer than one character), each with
// a sequence number that grows by one per line from 0. Text after the last
// carriage return waits for the next append instead of being dropped.
class EventLog {
public:
    static constexpr std::size_t kHistoryLines = 1000;
    // An unterminated tail longer than this is cut: every entry starts with a
    // carriage return, so only a malformed append can make one that long.
    static constexpr std::size_t kHistoryTailLimit = 65536;

    // Appends tag + text (up to its first zero byte) + terminator as one step.
    void append(const char* tag, const std::string& text, const char* terminator);
    // Returns the whole log and leaves it empty, as one step.
    std::string take();

    // Offers visit(line) the kept lines from sequence number from on, oldest
    // first, until it returns false; a from older than the oldest kept line,
    // or beyond the newest (a view of an earlier run), starts at the oldest.
    // Returns the sequence number of the first line offered (the next number
    // to be given when there is none). Runs under the history's lock.
    template <typename Visit>
    std::uint64_t visitHistory(std::uint64_t from, Visit visit) const
    {
        std::lock_guard<std::mutex> lock(mHistoryMutex);
        std::uint64_t oldest = mNextSequence - mHistory.size();
        std::uint64_t first = from < oldest || from > mNextSequence ? oldest : from;
        for (auto line = mHistory.begin() + static_cast<std::ptrdiff_t>(first - oldest); line != mHistory.end();
             ++line) {
            if (!visit(*line))
                break;
        }
        return first;
    }

private:
    // Splits the text appended into history lines; the caller holds both locks.
    void recordHistory(const char* data, std::size_t length);

    std::mutex mMutex;
    std::string mText;
    mutable std::mutex mHistoryMutex;
    std::deque<std::string> mHistory;
    std::uint64_t mNextSequence = 0;
    std::string mTail;
};

extern EventLog gEventLog;

// The event log as list lines: each piece between carriage returns that is
// longer than one character; text after the last carriage return is dropped.
std::vector<std::string> splitEventLog(const std::string& log);

// What every catch-all handler does: traces "*** EXCEPTION  <where>\n" and
// appends the same text to the event log as a "\r ZqServer= " entry.
void noteException(const char* where);
