#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "app/trace.h"
#include "fakes/recording_debug_output.h"

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
