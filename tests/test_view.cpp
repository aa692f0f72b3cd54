// The view channel: requests and replies as bytes (hostile ones included),
// and the view client against a request server and a hostile stand-in of the
// agent, all over loopback.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <boost/asio/ip/udp.hpp>

#include "app/view_client.h"
#include "fakes/plant_host.h"
#include "net/udp_zq_server.h"
#include "support/loopback.h"
#include "support/run_until.h"
#include "trace/trace.h"

namespace {

using boost::asio::ip::udp;
using zq::ViewTexts;

const std::string kBinary("\0\r\n:5:\xff VIEW_REPLY 1 2 3 0\n", 24);
const ViewTexts kTexts{"37", "OS\n7:", kBinary, "", "1:x\n", std::string(5000, 'o'), "\r"};

std::string reply(std::uint64_t asked, std::uint64_t first, const ViewTexts& texts,
                  const std::vector<std::string>& lines)
{
    zq::ViewReplyBuilder builder(asked, texts);
    for (const std::string& line : lines)
        builder.addLine(line);
    return builder.finish(first);
}

std::optional<zq::ViewReply> parse(const std::string& bytes)
{
    return zq::parseViewReply(bytes.data(), bytes.size());
}

}  // namespace

TEST(ViewProtocol, RequestsAreTakenOnlyInTheirExactForm)
{
    EXPECT_EQ(zq::encodeViewRequest(42, 7), "VIEW_REQUEST 42 7");
    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    // The text, then the number and the run it asks with (none: no run named).
    const std::tuple<const char*, std::uint64_t, std::optional<std::uint64_t>> good[] = {
        {"VIEW_REQUEST 0", 0, std::nullopt}, {"VIEW_REQUEST 18446744073709551615", top, std::nullopt},
        {"VIEW_REQUEST 3 0", 3, 0}, {"VIEW_REQUEST 0 18446744073709551615", 0, top}};
    for (const auto& [text, from, run] : good) {
        std::optional<zq::ViewRequest> request = zq::parseViewRequest(text);
        ASSERT_TRUE(request) << text;
        EXPECT_EQ(request->from, from);
        EXPECT_EQ(request->run, run);
    }
    for (const char* text : {"VIEW_REQUEST 18446744073709551616", "VIEW_REQUEST 000000000000000000001",
                             "VIEW_REQUEST 01", "VIEW_REQUEST ", "VIEW_REQUEST -1", "VIEW_REQUEST 1 ",
                             "VIEW_REQUEST 1x", " VIEW_REQUEST 1", "view_request 1", "VIEW_REQUEST1",
                             "VIEW_REQUEST 1 2 3", "VIEW_REQUEST 1  2", "VIEW_REQUEST 1 02", "VIEW_REQUEST 1 2 "})
        EXPECT_FALSE(zq::parseViewRequest(text)) << text;
}

// Hostile texts and lines come back byte for byte within their bounds; a
// reply cut short, lengthened or garbled anywhere is refused.
TEST(ViewProtocol, RepliesRoundTripAndEveryTruncatedOrGarbledOneIsRefused)
{
    std::vector<std::string> lines = {kBinary, " MulticastRX= <a>\n", "\n\n", std::string(70000, 'L')};
    const std::string good = reply(5, 7, kTexts, lines);
    std::optional<zq::ViewReply> parsed = parse(good);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->asked, 5u);
    EXPECT_EQ(parsed->next(), 11u);
    EXPECT_FALSE(parsed->more);
    ViewTexts cut = kTexts;
    cut.orvane.resize(zq::kViewTextLimit);
    lines.back().resize(zq::kViewLineLimit);
    EXPECT_TRUE(parsed->texts == cut);
    EXPECT_EQ(parsed->lines, lines);
    for (std::size_t size = 0; size < good.size(); size += size < 100 ? 1 : 997)
        EXPECT_FALSE(parse(good.substr(0, size))) << size;
    EXPECT_FALSE(parse(good + "\n"));

    const std::string texts = "2:37\n0:\n0:\n0:\n0:\n0:\n0:\n";
    ASSERT_TRUE(parse("VIEW_REPLY 0 18446744073709551614 1 1\n" + texts + "0:\n"));
    // The run, where the request named one, after the flag.
    EXPECT_EQ(parse("VIEW_REPLY 0 0 0 0 77\n" + texts)->run, 77u);
    EXPECT_EQ(parse(zq::ViewReplyBuilder(3, kTexts, 78).finish(4))->run, 78u);
    EXPECT_EQ(parse(good)->run, 0u);
    for (const std::string& bytes : {
             "VIEW_REPLY 0 0 0 0\n" + texts.substr(0, texts.size() - 3),  // six texts
             "VIEW_REPLY 0 0 1 0\n" + texts,                              // a line short
             "VIEW_REPLY 0 0 0 2\n" + texts,                              // more is 0 or 1
             "VIEW_REPLY 0 0 01 0\n" + texts + "0:\n",                    // a leading zero
             "VIEW_REPLY 0 0 1001 0\n" + texts + std::string(3003, 'x'),  // above the line bound
             "VIEW_REPLY 0 18446744073709551615 1 0\n" + texts + "0:\n",  // numbers past 64 bits
             "VIEW_REPLY 0 0 1 0\n" + texts + "99999999999999999999999:\n",
             "VIEW_REPLY 0 0 1 0\n" + texts + "5:ab\n",  // a length beyond the end
             "VIEW_REPLY 0 0 1 0\n" + texts + "1:ab\n",  // no line end after the value
             "VIEW_REPLY 0 0 0 0 \n" + texts, "VIEW_REPLY 0 0 0 0 1 2\n" + texts,  // a run, or nothing
             "VIEW_REPLY  0 0 0\n" + texts, std::string("<status></status>")})
        EXPECT_FALSE(parse(bytes)) << bytes;
}

// However many and however long the lines, a reply is one datagram that
// carries at least one line and says when more were due.
TEST(ViewProtocol, OneDatagramAtMostAndNoMoreThanTheKeptLines)
{
    struct Case {
        std::size_t lines, length;
        bool more;
    } const cases[] = {{0, 0, false}, {1000, 10, false}, {1001, 10, true},
                       {1000, 100, true}, {1, 1000000, false}, {3, 1000000, true}};
    const std::string full(zq::kViewTextLimit, 'T');
    for (const Case& c : cases) {
        zq::ViewReplyBuilder builder(0, ViewTexts{full, full, full, full, full, full, full});
        std::size_t added = 0;
        while (added < c.lines && builder.addLine(std::string(c.length, 'x')))
            ++added;
        std::string bytes = builder.finish(std::numeric_limits<std::uint64_t>::max() - 2000);
        EXPECT_LE(bytes.size(), zq::kViewReplyLimit);
        std::optional<zq::ViewReply> parsed = parse(bytes);
        ASSERT_TRUE(parsed) << c.lines;
        EXPECT_EQ(parsed->lines.size(), added);
        EXPECT_EQ(parsed->more, c.more) << c.lines << " x " << c.length;
        EXPECT_EQ(added > 0, c.lines > 0);
    }
}

namespace {

// A request server with its I/O loop on a thread of its own, as in the agent.
struct RunningServer {
    explicit RunningServer(unsigned short port = 0) : server(io, port)
    {
        server.setViewSource([] { return kTexts; });
        worker = std::thread([this] { io.run(); });
    }
    ~RunningServer()
    {
        io.stop();
        worker.join();
    }
    boost::asio::io_service io;
    zq::UdpZqServer server;
    std::thread worker;
};

std::vector<std::string> appendLines(int count, const std::string& tag)
{
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        gEventLog.append("\r ", tag + std::to_string(i), "\r");
        lines.push_back(" " + tag + std::to_string(i));
    }
    return lines;
}

}  // namespace

TEST(ViewClient, SeesTheAgentsTextsAndEachLineOnceWithoutDrainingTheLog)
{
    planthost::use({"10.0.0.7"});
    RunningServer agent;
    ViewClient view(agent.server.port());
    view.poll();  // whatever the history held before
    gEventLog.take();

    std::vector<std::string> lines = appendLines(3, "first ");
    DialogUpdate update = view.poll();
    ASSERT_TRUE(update.hasTexts);
    EXPECT_EQ(update.texts.hostName, kTexts.hostName);
    EXPECT_EQ(update.lines, lines);
    EXPECT_TRUE(view.poll().lines.empty());

    // More than one reply carries and than the history keeps: one poll asks
    // until it has the newest thousand.
    lines = appendLines(1500, std::string(200, '.'));
    update = view.poll();
    ASSERT_EQ(update.lines.size(), EventLog::kHistoryLines);
    EXPECT_EQ(update.lines.front(), lines[500]);
    EXPECT_EQ(update.lines.back(), lines.back());
    // Views only read: the log still holds every entry for its own drain.
    std::string drained = gEventLog.take();
    EXPECT_NE(drained.find("\r first 0\r"), std::string::npos);
    EXPECT_NE(drained.find("\r" + lines.back() + "\r"), std::string::npos);
}

TEST(ViewClient, SaysOnceThatTheAgentIsSilentAndOnceThatItAnswersAgain)
{
    planthost::use({"10.0.0.7"});
    std::unique_ptr<ViewClient> view;
    std::string agent;
    unsigned short port = 0;
    {
        // A port that is held but never answers: the view waits its timeout.
        boost::asio::io_service io;
        udp::socket mute(io, loopback(0));
        port = mute.local_endpoint().port();
        view = std::make_unique<ViewClient>(port, std::chrono::milliseconds(50));
        agent = view->agentText();
        auto start = std::chrono::steady_clock::now();
        DialogUpdate update = view->poll();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
        EXPECT_FALSE(update.hasTexts);
        EXPECT_EQ(update.lines, std::vector<std::string>{" View= no answer from the agent at " + agent +
                                                         "; waiting for it"});
        EXPECT_TRUE(view->poll().lines.empty());
    }
    {
        RunningServer running(port);
        DialogUpdate update = view->poll();
        EXPECT_TRUE(update.hasTexts);
        ASSERT_FALSE(update.lines.empty());
        EXPECT_EQ(update.lines.front(), " View= the agent at " + agent + " answers again");
    }
    // Nobody holds the port now: refused at once, said once more.
    EXPECT_EQ(view->poll().lines.size(), 1u);
    EXPECT_FALSE(agentAnswers(std::chrono::milliseconds(50), port));
}

// The agent names its run to views that ask with one, and answers a view of
// another run (an agent that has started again since) from its oldest line.
TEST(ViewClient, TheAgentAnswersAViewOfAnotherRunFromItsOldestLine)
{
    RunningServer agent;
    appendLines(3, "kept ");
    boost::asio::io_service io;
    udp::socket asker(io, loopback(0));
    auto ask = [&](const std::string& request) {
        asker.send_to(boost::asio::buffer(request), loopback(agent.server.port()));
        std::vector<char> buffer(zq::kViewReplyLimit);
        udp::endpoint from;
        std::size_t got = 0;
        boost::system::error_code error;
        receiveOne(io, asker, boost::asio::buffer(buffer), from, got, error);
        std::optional<zq::ViewReply> answer = zq::parseViewReply(buffer.data(), got);
        EXPECT_TRUE(answer) << request;
        return answer.value_or(zq::ViewReply());
    };
    EXPECT_EQ(ask("VIEW_REQUEST 0").run, 0u);  // as views that know no runs read it
    const std::uint64_t run = ask("VIEW_REQUEST 0 0").run;
    EXPECT_EQ(run, zq::UdpZqServer::run());
    EXPECT_NE(run, 0u);
    const std::string ofRun = " " + std::to_string(run);
    std::uint64_t next = 0;
    for (int pages = 0; pages < 10; ++pages) {
        zq::ViewReply page = ask("VIEW_REQUEST " + std::to_string(next) + ofRun);
        next = page.next();
        if (!page.more)
            break;
    }
    appendLines(2, "new ");
    zq::ViewReply same = ask("VIEW_REQUEST " + std::to_string(next) + ofRun);
    EXPECT_EQ(same.first, next);
    EXPECT_EQ(same.lines.size(), 2u);
    zq::ViewReply other = ask("VIEW_REQUEST " + std::to_string(next) + " " + std::to_string(run + 1));
    EXPECT_EQ(other.run, run);
    EXPECT_LT(other.first, next);
    EXPECT_EQ(other.first, ask("VIEW_REQUEST 0" + ofRun).first);
}

// A view that meets a new run goes on with the new run's numbers.
TEST(ViewClient, FollowsTheAgentIntoANewRun)
{
    boost::asio::io_service io;
    udp::socket agent(io, loopback(0));
    ViewClient view(agent.local_endpoint().port());
    // The request the stand-in expects, and its answer: asked, run, first, lines.
    const std::tuple<std::string, std::uint64_t, std::uint64_t, std::vector<std::string>> script[] = {
        {"VIEW_REQUEST 0 0", 7, 0, {"a", "b"}}, {"VIEW_REQUEST 2 7", 9, 0, {"c"}}, {"VIEW_REQUEST 1 9", 9, 1, {}}};
    std::thread standIn([&] {
        for (const auto& [request, run, first, lines] : script) {
            std::vector<char> buffer(100);
            udp::endpoint from;
            std::size_t got = agent.receive_from(boost::asio::buffer(buffer), from);
            EXPECT_EQ(std::string(buffer.data(), got), request);
            zq::ViewReplyBuilder builder(std::stoull(request.substr(13)), kTexts, run);
            for (const std::string& line : lines)
                builder.addLine(line);
            agent.send_to(boost::asio::buffer(builder.finish(first)), from);
        }
    });
    for (const auto& step : script)
        EXPECT_EQ(view.poll().lines, std::get<3>(step));
    standIn.join();
}

TEST(ViewClient, IgnoresEveryReplyButAWellFormedOneToItsRequest)
{
    boost::asio::io_service io;
    udp::socket agent(io, loopback(0));
    ViewClient view(agent.local_endpoint().port());
    const std::string good = reply(9, 9, kTexts, {"line"});
    std::thread standIn([&] {
        std::vector<char> buffer(100);
        udp::endpoint from;
        std::size_t got = agent.receive_from(boost::asio::buffer(buffer), from);
        EXPECT_EQ(std::string(buffer.data(), got), "VIEW_REQUEST 9 0");
        for (const std::string& bytes : {std::string("garbage"), reply(8, 9, kTexts, {"stale"}),
                                         good.substr(0, good.size() - 1), std::string(), good})
            agent.send_to(boost::asio::buffer(bytes), from);
    });
    std::optional<zq::ViewReply> answer = view.exchange(9);
    standIn.join();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->lines, std::vector<std::string>{"line"});
}
