#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "app/main_dialog.h"
#include "fakes/recording_debug_output.h"
#include "trace/trace.h"

TEST(Trace, WritesEachTextWholeAndCutsAt2047)
{
    recording::clearTrace();
    trace("plain text without arguments");
    trace("value=[%i] name=[%s]\n", 42, "pc-7");

    std::string exact(2047, 'a');
    std::string over(2048, 'b');
    std::string farOver(5000, 'c');
    trace("%s", exact.c_str());
    trace("%s", over.c_str());
    trace("%s!", farOver.c_str());

    auto texts = recording::traceTexts();
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[0], "plain text without arguments");  // no line end added
    EXPECT_EQ(texts[1], "value=[42] name=[pc-7]\n");
    EXPECT_EQ(texts[2], exact);
    EXPECT_EQ(texts[3], std::string(2047, 'b'));
    EXPECT_EQ(texts[4], std::string(2047, 'c'));
}

TEST(Trace, PercentSignsInArgumentsAreNotInterpreted)
{
    recording::clearTrace();
    trace("MulticastRX=[%s]\n", "%s%n%x");
    EXPECT_EQ(recording::traceJoined(), "MulticastRX=[%s%n%x]\n");
}

TEST(EventLog, DrainReturnsEntriesOnceAndEmptiesTheLog)
{
    gEventLog.take();
    EXPECT_EQ(gEventLog.take(), "");  // an empty log drains to an empty text

    recording::clearTrace();
    noteException("UdpBoundSocket::sendData");
    noteException("ZqServer::run");
    EXPECT_EQ(gEventLog.take(),
              "\r ZqServer= *** EXCEPTION  UdpBoundSocket::sendData\n\r"
              "\r ZqServer= *** EXCEPTION  ZqServer::run\n\r");
    EXPECT_EQ(gEventLog.take(), "");
    EXPECT_EQ(recording::traceJoined(),
              "*** EXCEPTION  UdpBoundSocket::sendData\n*** EXCEPTION  ZqServer::run\n");

    // A received text goes in up to its first zero byte.
    gEventLog.append("\r MulticastRX= ", std::string("abc\0def", 7), "\r");
    EXPECT_EQ(gEventLog.take(), "\r MulticastRX= abc\r");
}

TEST(EventLog, DrainsDuringAppendsLoseAndRepeatNothing)
{
    gEventLog.take();
    const int kEntries = 20000;
    std::thread writer([] {
        for (int i = 0; i < kEntries; ++i)
            gEventLog.append("\r MulticastRX= ", "x", "\r");
    });
    std::string drained;
    for (int i = 0; i < 1000000 && drained.size() < kEntries * 17u; ++i)
        drained += gEventLog.take();
    writer.join();
    drained += gEventLog.take();

    const std::string entry = "\r MulticastRX= x\r";
    ASSERT_EQ(drained.size(), entry.size() * kEntries);
    for (std::size_t at = 0; at < drained.size(); at += entry.size())
        ASSERT_EQ(drained.compare(at, entry.size(), entry), 0) << "entry torn at " << at;
}

// On Linux the trace (and the diagnostics beside it) go to standard error,
// but where that is the systemd journal: the service traces only when its
// environment asks for it, so that a flood of requests cannot flood the
// journal. The journal's stream is named by JOURNAL_STREAM ("DEVICE:INODE").
TEST(TraceSwitch, OffOnTheJournalUnlessAskedFor)
{
    // A file or a pipe: no JOURNAL_STREAM, or another stream.
    EXPECT_TRUE(traceWanted(nullptr, true, 8, 1234, false, nullptr));
    EXPECT_TRUE(traceWanted("8:99", true, 8, 1234, false, nullptr));
    EXPECT_TRUE(traceWanted("9:1234", true, 8, 1234, false, nullptr));
    // Standard error is the journal's stream: off, unless the variable is 1.
    EXPECT_FALSE(traceWanted("8:1234", true, 8, 1234, false, nullptr));
    EXPECT_FALSE(traceWanted("8:1234", true, 8, 1234, false, ""));
    EXPECT_FALSE(traceWanted("8:1234", true, 8, 1234, false, "yes"));
    EXPECT_TRUE(traceWanted("8:1234", true, 8, 1234, false, "1"));
    // The variable also turns it off anywhere.
    EXPECT_FALSE(traceWanted(nullptr, true, 8, 1234, false, "0"));
    // A closed standard error, or a malformed variable, is not the journal.
    EXPECT_TRUE(traceWanted("0:0", false, 0, 0, false, nullptr));
    for (const char* malformed : {"", ":", "8:", ":1234", "8:1234x", "x8:1234", "8-1234"})
        EXPECT_TRUE(traceWanted(malformed, true, 8, 1234, false, nullptr)) << malformed;
}

// On a terminal the trace would bury the console's panel: off, unless asked for.
TEST(TraceSwitch, OffOnATerminalUnlessAskedFor)
{
    for (const char* setting : {static_cast<const char*>(nullptr), "", "0", "yes"})
        EXPECT_FALSE(traceWanted(nullptr, true, 8, 1234, true, setting));
    EXPECT_TRUE(traceWanted(nullptr, true, 8, 1234, true, "1"));
}

namespace {
// The history's lines from number from on; first gets the first one's number.
std::vector<std::string> history(const EventLog& log, std::uint64_t from, std::uint64_t* first = nullptr)
{
    std::vector<std::string> lines;
    std::uint64_t at = log.visitHistory(from, [&](const std::string& line) {
        lines.push_back(line);
        return true;
    });
    if (first != nullptr)
        *first = at;
    return lines;
}
}  // namespace

// The history splits the appended text as the dialog splits a drained one,
// but keeps an unterminated tail for the next append, whoever drains.
TEST(EventLogHistory, SplitsAcrossAppendsAsTheDialogDoes)
{
    const std::vector<std::vector<std::string>> cases = {
        {"\r BEFORE new zq::ZqServer()\r\n", "\r AFTER new zq::ZqServer()\r\n"},
        {"no carriage return"},
        {"\r MulticastRX= par", "t one", "\r"},
        {"\r\n\rx\r\r ok\r"},
    };
    for (const std::vector<std::string>& appends : cases) {
        EventLog log;
        std::string whole;
        for (const std::string& text : appends) {
            log.append(text.c_str(), "", "");
            log.take();  // a drain between appends changes nothing
            whole += text;
        }
        EXPECT_EQ(history(log, 0), splitEventLog(whole)) << whole;
    }
}

TEST(EventLogHistory, KeepsTheNewestThousandLinesWithTheirNumbers)
{
    EventLog log;
    for (int i = 0; i < 1005; ++i)
        log.append("\r line ", std::to_string(i), "\r");
    std::uint64_t first = 0;
    std::vector<std::string> lines = history(log, 0, &first);  // older than the oldest kept
    EXPECT_EQ(first, 5u);
    ASSERT_EQ(lines.size(), EventLog::kHistoryLines);
    EXPECT_EQ(lines.front(), " line 5");
    EXPECT_EQ(history(log, 1003), (std::vector<std::string>{" line 1003", " line 1004"}));
    EXPECT_TRUE(history(log, 1005, &first).empty());
    EXPECT_EQ(first, 1005u);
    EXPECT_EQ(history(log, 99999, &first).size(), EventLog::kHistoryLines);  // a view of an earlier run
    EXPECT_EQ(first, 5u);
}
