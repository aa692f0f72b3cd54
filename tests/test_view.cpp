// The view channel: its requests and replies as bytes (hostile ones
// included), and the view client against a request server and against a
// hostile stand-in of the agent, all over loopback.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>

#include "app/trace.h"
#include "app/view_client.h"
#include "fakes/plant_host.h"
#include "net/udp_zq_server.h"
#include "net/view_protocol.h"
#include "support/loopback.h"

namespace {

using boost::asio::ip::udp;
using zq::ViewReply;
using zq::ViewReplyBuilder;
using zq::ViewTexts;

const std::string kBinary("\0\r\n:5:\xff VIEW_REPLY 1 2 3 0\n", 24);

ViewTexts hostileTexts()
{
    return {"37", "OS\n7:", kBinary, "", "1:x\n", std::string(zq::kViewTextLimit + 10, 'o'), "\r"};
}

std::string reply(std::uint64_t asked, std::uint64_t first, const ViewTexts& texts,
                  const std::vector<std::string>& lines)
{
    ViewReplyBuilder builder(asked, texts);
    for (const std::string& line : lines)
        builder.addLine(line);
    return builder.finish(first);
}

}  // namespace

TEST(ViewProtocol, RequestsAreTakenOnlyInTheirExactForm)
{
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(zq::encodeViewRequest(42), "VIEW_REQUEST 42");
    struct Case {
        std::string text;
        std::optional<std::uint64_t> from;
    };
    const Case cases[] = {
        {"VIEW_REQUEST 0", 0u},
        {"VIEW_REQUEST 1000", 1000u},
        {"VIEW_REQUEST " + std::to_string(max), max},
        {"VIEW_REQUEST 18446744073709551616", std::nullopt},  // 2^64
        {"VIEW_REQUEST 000000000000000000001", std::nullopt},
        {"VIEW_REQUEST 01", std::nullopt},
        {"VIEW_REQUEST ", std::nullopt},
        {"VIEW_REQUEST -1", std::nullopt},
        {"VIEW_REQUEST 1 ", std::nullopt},
        {"VIEW_REQUEST 1x", std::nullopt},
        {" VIEW_REQUEST 1", std::nullopt},
        {"view_request 1", std::nullopt},
        {"VIEW_REQUEST1", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(zq::parseViewRequest(c.text), c.from) << c.text;
}

TEST(ViewProtocol, HostileTextsAndLinesComeBackByteForByte)
{
    ViewTexts texts = hostileTexts();
    std::vector<std::string> lines = {kBinary, " MulticastRX= <a>\n", "\n\n", std::string(70000, 'L')};
    std::string bytes = reply(5, 7, texts, lines);
    ASSERT_LE(bytes.size(), zq::kViewReplyLimit);

    std::optional<ViewReply> parsed = zq::parseViewReply(bytes.data(), bytes.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->asked, 5u);
    EXPECT_EQ(parsed->first, 7u);
    EXPECT_FALSE(parsed->more);
    EXPECT_EQ(parsed->next(), 11u);
    // Texts and lines beyond their bounds are cut, all else is kept.
    texts.orvane.resize(zq::kViewTextLimit);
    lines.back().resize(zq::kViewLineLimit);
    EXPECT_TRUE(parsed->texts == texts);
    EXPECT_EQ(parsed->lines, lines);
}

TEST(ViewProtocol, EveryTruncatedOrGarbledReplyIsRefused)
{
    const std::string good = reply(3, 3, hostileTexts(), {"one", kBinary});
    ASSERT_TRUE(zq::parseViewReply(good.data(), good.size()));
    // Every strict prefix and every one-byte extension.
    for (std::size_t size = 0; size < good.size(); ++size)
        EXPECT_FALSE(zq::parseViewReply(good.data(), size)) << size;
    std::string longer = good + "\n";
    EXPECT_FALSE(zq::parseViewReply(longer.data(), longer.size()));

    const std::string texts = "2:37\n0:\n0:\n0:\n0:\n0:\n0:\n";
    const std::string good0 = "VIEW_REPLY 0 0 0 0\n" + texts;
    ASSERT_TRUE(zq::parseViewReply(good0.data(), good0.size()));
    const std::string garbled[] = {
        "VIEW_REPLY 0 0 0 0\n" + texts.substr(0, texts.size() - 3),  // six texts only
        "VIEW_REPLY 0 0 1 0\n" + texts,                              // a line short
        "VIEW_REPLY 0 0 0 2\n" + texts,                              // more is 0 or 1
        "VIEW_REPLY 0 0 01 0\n" + texts + "0:\n",                    // a leading zero
        "VIEW_REPLY 0 0 1001 0\n" + texts + std::string(3 * 1001, 'x'),  // above the line bound
        "VIEW_REPLY 0 18446744073709551615 1 0\n" + texts + "0:\n",  // numbers past 64 bits
        "VIEW_REPLY 0 0 1 0\n" + texts + "99999999999999999999999:\n",
        "VIEW_REPLY 0 0 1 0\n" + texts + "18446744073709551615:\n",
        "VIEW_REPLY 0 0 1 0\n" + texts + "5:ab\n",  // length beyond the end
        "VIEW_REPLY 0 0 1 0\n" + texts + "1:ab\n",  // no line end after the value
        "VIEW_REPLY  0 0 0\n" + texts,
        "<status></status>",
        "",
    };
    for (const std::string& bytes : garbled)
        EXPECT_FALSE(zq::parseViewReply(bytes.data(), bytes.size())) << bytes;
    std::string fine = "VIEW_REPLY 0 18446744073709551614 1 1\n" + texts + "0:\n";
    EXPECT_TRUE(zq::parseViewReply(fine.data(), fine.size()));
}

// However many and however long the lines, a reply is one datagram, carries
// at least one line, and says when more were due.
TEST(ViewProtocol, OneDatagramAtMostAndNoMoreThanTheKeptLines)
{
    struct Case {
        std::size_t lines;
        std::size_t length;
        bool more;
    };
    const Case cases[] = {{0, 0, false}, {1000, 10, false}, {1001, 10, true}, {1000, 100, true},
                          {1, 1000000, false}, {3, 1000000, true}};
    for (const Case& c : cases) {
        ViewTexts full;
        for (std::string* text : {&full.cpuUsage, &full.osDesc, &full.hostName, &full.commonLocalIps,
                                  &full.triggerText, &full.orvane, &full.cloud})
            *text = std::string(zq::kViewTextLimit, 'T');
        ViewReplyBuilder builder(0, full);
        std::size_t added = 0;
        for (std::size_t i = 0; i < c.lines && builder.addLine(std::string(c.length, 'x')); ++i)
            ++added;
        std::string bytes = builder.finish(std::numeric_limits<std::uint64_t>::max() - 2000);
        EXPECT_LE(bytes.size(), zq::kViewReplyLimit);
        std::optional<ViewReply> parsed = zq::parseViewReply(bytes.data(), bytes.size());
        ASSERT_TRUE(parsed) << c.lines;
        EXPECT_EQ(parsed->lines.size(), added);
        EXPECT_EQ(parsed->more, c.more) << c.lines << " x " << c.length;
        EXPECT_EQ(added > 0, c.lines > 0);
    }
}

namespace {

// A request server on a port of its own, its I/O loop on a thread of its own
// as in the agent, showing hostileTexts().
class RunningServer {
public:
    explicit RunningServer(unsigned short port = 0) : server_(io_, port)
    {
        server_.setViewSource([] { return hostileTexts(); });
        worker_ = std::thread([this] { io_.run(); });
    }
    ~RunningServer()
    {
        io_.stop();
        worker_.join();
    }
    unsigned short port() const { return server_.port(); }

private:
    boost::asio::io_service io_;
    zq::UdpZqServer server_;
    std::thread worker_;
};

std::vector<std::string> appendLines(int count, std::size_t length, const std::string& tag)
{
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        std::string text = tag + std::to_string(i) + std::string(length, '.');
        gEventLog.append("\r ", text, "\r");
        lines.push_back(" " + text);
    }
    return lines;
}

}  // namespace

TEST(ViewClient, SeesTheAgentsTextsAndEachLineOnceWithoutDrainingTheLog)
{
    planthost::use({"10.0.0.7"});
    RunningServer agent;
    ViewClient view(agent.port());
    view.poll();  // whatever the history held before
    gEventLog.take();

    std::vector<std::string> lines = appendLines(3, 0, "first ");
    DialogUpdate update = view.poll();
    ASSERT_TRUE(update.hasTexts);
    ViewTexts expected = hostileTexts();
    expected.orvane.resize(zq::kViewTextLimit);
    EXPECT_TRUE(update.texts == expected);
    EXPECT_EQ(update.lines, lines);
    EXPECT_TRUE(view.poll().lines.empty());

    // More lines than one reply carries, and more than the history keeps:
    // one poll asks until it has the newest thousand.
    lines = appendLines(1500, 200, "flood ");
    update = view.poll();
    ASSERT_EQ(update.lines.size(), EventLog::kHistoryLines);
    EXPECT_EQ(update.lines.front(), lines[500]);
    EXPECT_EQ(update.lines.back(), lines.back());

    // The views only read: the log still holds every entry for its drain.
    std::string drained = gEventLog.take();
    EXPECT_NE(drained.find("\r first 0\r"), std::string::npos);
    EXPECT_NE(drained.find("\r" + lines.back() + "\r"), std::string::npos);
}

TEST(ViewClient, SaysOnceThatTheAgentIsSilentAndOnceThatItAnswersAgain)
{
    planthost::use({"10.0.0.7"});
    const std::string silent = " View= no answer from the agent at 127.0.0.1:";
    unsigned short port = 0;
    std::unique_ptr<ViewClient> view;
    {
        // A port that is held but never answers: the view waits its timeout.
        boost::asio::io_service io;
        udp::socket mute(io, loopback(0));
        port = mute.local_endpoint().port();
        view = std::make_unique<ViewClient>(port, std::chrono::milliseconds(50));
        auto start = std::chrono::steady_clock::now();
        DialogUpdate update = view->poll();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
        EXPECT_FALSE(update.hasTexts);
        EXPECT_EQ(update.lines,
                  std::vector<std::string>{silent + std::to_string(port) + "; waiting for it"});
        EXPECT_TRUE(view->poll().lines.empty());
    }
    {
        RunningServer agent(port);
        DialogUpdate update = view->poll();
        EXPECT_TRUE(update.hasTexts);
        ASSERT_FALSE(update.lines.empty());
        EXPECT_EQ(update.lines.front(), " View= the agent at 127.0.0.1:" + std::to_string(port) + " answers again");
        EXPECT_TRUE(view->poll().hasTexts);
    }
    // Nobody holds the port: refused at once.
    DialogUpdate update = view->poll();
    EXPECT_FALSE(update.hasTexts);
    EXPECT_EQ(update.lines.size(), 1u);
    EXPECT_FALSE(agentAnswers(std::chrono::milliseconds(50), port));
}

TEST(ViewClient, IgnoresEveryReplyButAWellFormedOneToItsRequest)
{
    boost::asio::io_service io;
    udp::socket agent(io, loopback(0));
    ViewClient view(agent.local_endpoint().port());
    const std::string good = reply(9, 9, hostileTexts(), {"line"});
    std::thread standIn([&] {
        std::vector<char> buffer(100);
        udp::endpoint from;
        std::size_t got = agent.receive_from(boost::asio::buffer(buffer), from);
        EXPECT_EQ(std::string(buffer.data(), got), "VIEW_REQUEST 9");
        for (const std::string& bytes : {std::string("garbage"), reply(8, 9, hostileTexts(), {"stale"}),
                                         good.substr(0, good.size() - 1), std::string(), good})
            agent.send_to(boost::asio::buffer(bytes), from);
    });
    std::optional<ViewReply> answer = view.exchange(9);
    standIn.join();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->lines, std::vector<std::string>{"line"});
}
