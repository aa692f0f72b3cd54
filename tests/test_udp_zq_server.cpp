// The request server over loopback: which datagrams are answered, the reply
// byte for byte, the trace of a request, and how it carries on after receive
// errors and failed replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/ip/udp.hpp>
#include <boost/system/system_error.hpp>

#include "fakes/fake_tick_clock.h"
#include "fakes/plant_host.h"
#include "golden/golden.h"
#include "hostinfo/os_description.h"
#include "net/udp_zq_server.h"
#include "support/loopback.h"
#include "support/run_until.h"

namespace {

using boost::asio::ip::udp;

const std::string kHandled = "<==  UdpZqServer::handle_receive\n";

// The reply as the agent's peers expect it.
std::string statusReply(const std::string& address, int cpu)
{
    return golden("status_reply", {{"ADDRESS", address}, {"CPU", std::to_string(cpu)}, {"OS", buildOsDescription()}});
}

class RequestServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        planthost::use({"10.0.0.7", "192.168.1.5"});
        planthost::scriptCpu();
        planthost::clearRecords();
        server = std::make_unique<zq::UdpZqServer>(io, 0);
        serverEndpoint = loopback(server->port());
        client.open(udp::v4());
        client.bind(loopback(0));
        clientFrom = "[127.0.0.1:" + std::to_string(client.local_endpoint().port()) + "]";
    }

    void TearDown() override
    {
        // The server goes before the I/O service; its pending receive is
        // abandoned.
        server.reset();
    }

    // Sends bytes from the client and runs the server until it has handled
    // one more datagram.
    void ask(const std::string& bytes)
    {
        const std::size_t before = recording::traceCount(kHandled);
        client.send_to(boost::asio::buffer(bytes), serverEndpoint);
        ASSERT_TRUE(runUntil(io, [&] { return recording::traceCount(kHandled) > before; }))
            << "the server never handled the datagram";
    }

    // The datagrams that reach the client until one contains marker.
    std::vector<std::string> receiveUntil(const std::string& marker)
    {
        std::vector<std::string> received;
        for (int count = 0; count < 10; ++count) {
            std::vector<char> buffer(4096);
            std::size_t length = 0;
            boost::system::error_code result;
            udp::endpoint from;
            if (!receiveOne(io, client, boost::asio::buffer(buffer), from, length, result)) {
                ADD_FAILURE() << "no reply reached the client";
                break;
            }
            EXPECT_FALSE(result) << result.message();
            EXPECT_EQ(from, serverEndpoint);
            received.emplace_back(buffer.data(), length);
            if (received.back().find(marker) != std::string::npos)
                break;
        }
        return received;
    }

    // The replies that bytes draw. A status request sent after them, sampled
    // at a different CPU value, shows that everything before it has arrived.
    std::vector<std::string> answersTo(const std::string& bytes, int cpu = 11)
    {
        fakecpu::setDefaultValue(cpu);
        recording::clearTrace();
        ask(bytes);
        handling = recording::traceTexts();
        fakecpu::setDefaultValue(99);
        ask("STATUS_REQUEST ");
        std::vector<std::string> replies = receiveUntil("<cpuPercent>99</cpuPercent>");
        EXPECT_FALSE(replies.empty());
        if (!replies.empty()) {
            EXPECT_EQ(replies.back(), statusReply("10.0.0.7", 99));
            replies.pop_back();
        }
        return replies;
    }

    // The trace of a datagram that carries no status request and is longer
    // than ten bytes, from entry to exit.
    std::vector<std::string> unansweredTrace(const std::string& bytes, const std::string& text)
    {
        return {
            "==>  UdpZqServer::handle_receive\n",
            "RX DATA FROM=" + clientFrom + "\n",
            "SIP RX DATA  bytes_transferred=[" + std::to_string(bytes.size()) + "] data=[" + text + "]\n",
            "UdpZqServer::parseZqMessage\n",
            "RX DATA FROM=" + clientFrom + "\n",
            "<> UdpZqServer::start_receive\n",
            kHandled,
        };
    }

    // The whole trace of one status request of 15 bytes from the client.
    std::vector<std::string> statusRequestTrace() const
    {
        return {
            "==>  UdpZqServer::handle_receive\n",
            "RX DATA FROM=" + clientFrom + "\n",
            "SIP RX DATA  bytes_transferred=[15] data=[STATUS_REQUEST ]\n",
            "UdpZqServer::parseZqMessage\n",
            "RX DATA FROM=" + clientFrom + "\n",
            "STATUS_REQUEST",
            "UdpZqServer::decodeZqMessage",
            "UdpZqServer::handle_STATUS_REQUEST",
            "remote_endpoint_=" + clientFrom + "\n",
            "UdpZqMessage::~UdpZqMessage",
            "<> UdpZqServer::start_receive\n",
            kHandled,
        };
    }

    boost::asio::io_service io;
    std::unique_ptr<zq::UdpZqServer> server;
    udp::endpoint serverEndpoint;
    udp::socket client{io};
    std::string clientFrom;
    std::vector<std::string> handling;
};

}  // namespace

TEST_F(RequestServer, AStatusRequestIsAnsweredToTheRequestersPort)
{
    fakecpu::setDefaultValue(37.0);
    recording::clearTrace();
    ask("STATUS_REQUEST ");

    EXPECT_EQ(recording::traceTexts(), statusRequestTrace());
    // The client's port is not the server's: the reply arrives only if it
    // went to the port the request came from.
    ASSERT_NE(client.local_endpoint().port(), server->port());
    EXPECT_EQ(receiveUntil("</status>"), std::vector<std::string>{statusReply("10.0.0.7", 37)});
    EXPECT_EQ(gEventLog.take(), "");
}

TEST_F(RequestServer, RequestsQueuedTogetherEachGetTheTraceAndReplyOfOne)
{
    // More than one turn's worth waits before the server runs: each is
    // handled with the whole trace of a request, in order, and answered.
    fakecpu::setDefaultValue(5.0);
    recording::clearTrace();
    const int kQueued = 20;
    for (int i = 0; i < kQueued; ++i)
        client.send_to(boost::asio::buffer(std::string("STATUS_REQUEST ")), serverEndpoint);
    ASSERT_TRUE(runUntil(io, [&] { return recording::traceCount(kHandled) == kQueued; }));
    const std::vector<std::string> one = statusRequestTrace();
    std::vector<std::string> expected;
    for (int i = 0; i < kQueued; ++i)
        expected.insert(expected.end(), one.begin(), one.end());
    EXPECT_EQ(recording::traceTexts(), expected);
    for (int i = 0; i < kQueued; ++i)
        EXPECT_EQ(receiveUntil("</status>"), std::vector<std::string>{statusReply("10.0.0.7", 5)}) << i;
}

TEST_F(RequestServer, TheReplyTakesAFreshSampleAndTheHostsOwnAddressAtMostASecondOld)
{
    const auto firstAsked = std::chrono::steady_clock::now();
    fakecpu::setDefaultValue(-5.0);
    ask("STATUS_REQUEST ");
    EXPECT_EQ(receiveUntil("</status>"), std::vector<std::string>{statusReply("10.0.0.7", -5)});
    EXPECT_EQ(fakecpu::calls().collect, 1);

    // The host's address changes (here: its lookup starts failing). Every
    // request still takes a fresh CPU sample, but a burst of requests within
    // the second after the lookup costs no further lookups.
    fakehost::Host unknown;
    unknown.name = "plant-pc";
    unknown.lookupFails = true;
    fakehost::set(unknown);  // also clears the record of lookups
    int asked = 0;
    while (asked < 20 && std::chrono::steady_clock::now() - firstAsked < std::chrono::milliseconds(500)) {
        fakecpu::setDefaultValue(10.0 + asked);
        ask("STATUS_REQUEST ");
        EXPECT_EQ(receiveUntil("</status>"), std::vector<std::string>{statusReply("10.0.0.7", 10 + asked)});
        ++asked;
    }
    EXPECT_GE(asked, 1) << "the machine is too slow for a burst within half a second";
    EXPECT_EQ(fakecpu::calls().collect, 1 + asked);
    EXPECT_EQ(fakehost::lookedUp(), std::vector<std::string>{});

    // A second after the lookup, the next reply shows the change.
    fakeclock::advance(zq::UdpZqServer::kHostAddressLifetime);
    fakecpu::setDefaultValue(63.0);
    ask("STATUS_REQUEST ");
    EXPECT_EQ(receiveUntil("</status>"), std::vector<std::string>{statusReply("0.0.0.0", 63)});
    EXPECT_EQ(fakecpu::calls().collect, 2 + asked);
    EXPECT_EQ(fakehost::lookedUp(), std::vector<std::string>{"plant-pc"});
}

TEST_F(RequestServer, OnlyTheKeywordWithItsBlankIsAnsweredAndConfigurationNever)
{
    EXPECT_EQ(answersTo("STATUS_REQUEST"), std::vector<std::string>{});
    EXPECT_EQ(handling, unansweredTrace("STATUS_REQUEST", "STATUS_REQUEST"));

    EXPECT_EQ(answersTo("status_request please"), std::vector<std::string>{});

    EXPECT_EQ(answersTo("please: STATUS_REQUEST now", 21), std::vector<std::string>{statusReply("10.0.0.7", 21)});
    EXPECT_EQ(answersTo("xxSTATUS_REQUEST ", 22), std::vector<std::string>{statusReply("10.0.0.7", 22)});

    // Both keywords make a configuration request, which is only traced.
    const std::string both = "STATUS_REQUEST BEACON_CFG_ALARM <srvIpAddr>10.0.0.1</srvIpAddr>";
    EXPECT_EQ(answersTo(both), std::vector<std::string>{});
    EXPECT_EQ(handling,
              (std::vector<std::string>{
                  "==>  UdpZqServer::handle_receive\n",
                  "RX DATA FROM=" + clientFrom + "\n",
                  "SIP RX DATA  bytes_transferred=[" + std::to_string(both.size()) + "] data=[" + both + "]\n",
                  "UdpZqServer::parseZqMessage\n",
                  "RX DATA FROM=" + clientFrom + "\n",
                  "BEACON_CFG_ALARM ",
                  "UdpZqServer::decodeZqMessage",
                  "UdpZqServer::handle_BEACON_CFG_ALARM",
                  "UdpZqMessage::~UdpZqMessage",
                  "<> UdpZqServer::start_receive\n",
                  kHandled,
              }));
    EXPECT_EQ(gEventLog.take(), "");
}

TEST_F(RequestServer, ShortAndZeroLedDatagramsAreNotInterpreted)
{
    // Ten bytes: traced, not parsed.
    EXPECT_EQ(answersTo("0123456789"), std::vector<std::string>{});
    EXPECT_EQ(handling,
              (std::vector<std::string>{
                  "==>  UdpZqServer::handle_receive\n",
                  "RX DATA FROM=" + clientFrom + "\n",
                  "SIP RX DATA  bytes_transferred=[10] data=[0123456789]\n",
                  "<> UdpZqServer::start_receive\n",
                  kHandled,
              }));

    // Eleven bytes are parsed.
    EXPECT_EQ(answersTo("0123456789A"), std::vector<std::string>{});
    EXPECT_EQ(handling, unansweredTrace("0123456789A", "0123456789A"));

    // A zero first byte leaves an empty text: the parse line, nothing more.
    const std::string zeroLed("\0STATUS_REQUEST now", 19);
    EXPECT_EQ(answersTo(zeroLed), std::vector<std::string>{});
    EXPECT_EQ(handling,
              (std::vector<std::string>{
                  "==>  UdpZqServer::handle_receive\n",
                  "RX DATA FROM=" + clientFrom + "\n",
                  "SIP RX DATA  bytes_transferred=[19] data=[]\n",
                  "UdpZqServer::parseZqMessage\n",
                  "<> UdpZqServer::start_receive\n",
                  kHandled,
              }));

    // The text ends at the first zero byte, so a keyword after it is not seen.
    EXPECT_EQ(answersTo(std::string("hello there\0STATUS_REQUEST ", 27)), std::vector<std::string>{});
}

TEST_F(RequestServer, OnlyTheFirst1501BytesOfAnOversizedDatagramAreTaken)
{
    const std::string early = "STATUS_REQUEST " + std::string(1985, 'x');
    EXPECT_EQ(answersTo(early, 31), std::vector<std::string>{statusReply("10.0.0.7", 31)});
    EXPECT_EQ(recording::traceCount("SIP RX DATA  bytes_transferred=[1501] data=[" + early.substr(0, 1501) + "]\n"), 1u);

    const std::string late = std::string(1600, 'x') + "STATUS_REQUEST " + std::string(385, 'x');
    EXPECT_EQ(answersTo(late), std::vector<std::string>{});
    EXPECT_EQ(handling, unansweredTrace(late.substr(0, 1501), late.substr(0, 1501)));
}

TEST_F(RequestServer, ReceiveErrorsNeverStopTheServer)
{
    // Any error but the message-size one: entry, re-arm, exit.
    recording::clearTrace();
    server->handle_receive(boost::asio::error::connection_refused, 0);
    EXPECT_EQ(recording::traceTexts(),
              (std::vector<std::string>{
                  "==>  UdpZqServer::handle_receive\n",
                  "<> UdpZqServer::start_receive\n",
                  kHandled,
              }));
    EXPECT_EQ(answersTo("STATUS_REQUEST ", 41), std::vector<std::string>{statusReply("10.0.0.7", 41)});

    // The message-size error is taken like data: here the buffer is still
    // cleared, so the text is empty and parsing stops at once.
    recording::clearTrace();
    server->handle_receive(boost::asio::error::message_size, 1501);
    const std::vector<std::string> texts = recording::traceTexts();
    ASSERT_EQ(texts.size(), 6u);
    EXPECT_EQ(texts[0], "==>  UdpZqServer::handle_receive\n");
    EXPECT_EQ(texts[1].rfind("RX DATA FROM=[", 0), 0u) << texts[1];
    EXPECT_EQ(texts[2], "SIP RX DATA  bytes_transferred=[1501] data=[]\n");
    EXPECT_EQ(texts[3], "UdpZqServer::parseZqMessage\n");
    EXPECT_EQ(texts[4], "<> UdpZqServer::start_receive\n");
    EXPECT_EQ(texts[5], kHandled);

    // A reply to a requester that has gone: where the platform reports that
    // on the next receive (Windows), the server still answers the next one.
    {
        udp::socket gone(io, loopback(0));
        const std::size_t before = recording::traceCount(kHandled);
        gone.send_to(boost::asio::buffer(std::string("STATUS_REQUEST ")), serverEndpoint);
        gone.close();
        ASSERT_TRUE(runUntil(io, [&] { return recording::traceCount(kHandled) > before; }));
    }
    fakecpu::setDefaultValue(42);
    client.send_to(boost::asio::buffer(std::string("STATUS_REQUEST ")), serverEndpoint);
    EXPECT_EQ(receiveUntil("</status>"), std::vector<std::string>{statusReply("10.0.0.7", 42)});
    EXPECT_EQ(gEventLog.take(), "");
}

TEST_F(RequestServer, AReplyThatCannotBeSentIsLoggedAndTheServerGoesOn)
{
    // An IPv6 requester cannot be reached from the IPv4 socket: the send
    // fails locally, before anything leaves the machine.
    auto request = std::make_shared<zq::UdpZqMessage>();
    request->endpoint_ = udp::endpoint(boost::asio::ip::address_v6::loopback(), 9);
    recording::clearTrace();
    EXPECT_NO_THROW(server->handle_STATUS_REQUEST(std::move(request)));
    EXPECT_EQ(recording::traceTexts(),
              (std::vector<std::string>{
                  "UdpZqServer::handle_STATUS_REQUEST",
                  "remote_endpoint_=[::1:9]\n",
                  "*** EXCEPTION  UdpZqServer::handle_STATUS_REQUEST\n",
                  "UdpZqMessage::~UdpZqMessage",
              }));
    EXPECT_EQ(gEventLog.take(), "\r ZqServer= *** EXCEPTION  UdpZqServer::handle_STATUS_REQUEST\n\r");

    EXPECT_EQ(answersTo("STATUS_REQUEST ", 51), std::vector<std::string>{statusReply("10.0.0.7", 51)});
}

TEST_F(RequestServer, ConstructionTracesAndAHeldPortIsThrown)
{
    recording::clearTrace();
    zq::UdpZqServer other(io, 0);
    EXPECT_EQ(recording::traceTexts(),
              (std::vector<std::string>{
                  "==>  UdpZqServer::UdpZqServer\n",
                  "UdpZqServer::UdpZqServer  UDP SERVER ADDRESS=[10.0.0.7:45654]\n",
                  "<> UdpZqServer::start_receive\n",
                  "<==  UdpZqServer::UdpZqServer\n",
              }));
    EXPECT_NE(other.port(), 0);

    // Address reuse is not requested, so a held port cannot be bound again;
    // the failure leaves the constructor before anything is traced.
    recording::clearTrace();
    EXPECT_THROW(zq::UdpZqServer(io, server->port()), boost::system::system_error);
    EXPECT_EQ(recording::traceTexts(), std::vector<std::string>{});
    EXPECT_EQ(gEventLog.take(), "");

    recording::clearTrace();
    server.reset();
    EXPECT_EQ(recording::traceTexts(), std::vector<std::string>{"<> UdpZqServer::~UdpZqServer\n"});
    // Its abandoned receive never reaches the destroyed object.
    io.poll();
    EXPECT_EQ(recording::traceCount("==>  UdpZqServer::handle_receive\n"), 0u);
}

// A view request is answered to loopback only, with the view source's texts
// and the event lines; from an address of the network it draws nothing, as
// any unknown datagram. The other address is put on the loopback interface of
// the test program's own network namespace: what counts is the source
// address, not the interface.
TEST_F(RequestServer, AViewRequestIsAnsweredToLoopbackOnly)
{
    zq::ViewTexts texts{"12", "OS", "pc-7", "10.0.0.7", "90%/30s", "10.0.0.1", std::string("c\0\r\n", 4)};
    server->setViewSource([&texts] { return texts; });
    recording::clearTrace();
    ask("VIEW_REQUEST 0");
    std::vector<std::string> trace = recording::traceTexts();
    ASSERT_GE(trace.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(trace.begin() + 5, trace.begin() + 9),
              (std::vector<std::string>{"VIEW_REQUEST", "UdpZqServer::decodeZqMessage",
                                        "UdpZqServer::handle_VIEW_REQUEST", "UdpZqMessage::~UdpZqMessage"}));
    std::vector<char> buffer(zq::DatagramBuffer::kSize);
    std::size_t length = 0;
    boost::system::error_code result;
    udp::endpoint from;
    ASSERT_TRUE(receiveOne(io, client, boost::asio::buffer(buffer), from, length, result));
    std::optional<zq::ViewReply> reply = zq::parseViewReply(buffer.data(), length);
    EXPECT_TRUE(reply && reply->texts == texts);

    if (std::system("ip addr add 10.99.0.1/32 dev lo") != 0)
        GTEST_SKIP() << "no network namespace of our own to add a non-loopback address to";
    udp::socket stranger(io, udp::endpoint(boost::asio::ip::make_address_v4("10.99.0.1"), 0));
    udp::endpoint serverThere(boost::asio::ip::make_address_v4("10.99.0.1"), server->port());
    for (const std::string& bytes : {std::string("VIEW_REQUEST 0"), std::string("STATUS_REQUEST ")}) {
        const std::size_t before = recording::traceCount(kHandled);
        stranger.send_to(boost::asio::buffer(bytes), serverThere);
        ASSERT_TRUE(runUntil(io, [&] { return recording::traceCount(kHandled) > before; }));
    }
    // The status reply is the first to arrive: no view reply went before it.
    ASSERT_TRUE(receiveOne(io, stranger, boost::asio::buffer(buffer), from, length, result));
    EXPECT_EQ(std::string(buffer.data(), length).rfind("<status>", 0), 0u);
    EXPECT_EQ(recording::traceCount("UdpZqServer::handle_VIEW_REQUEST"), 1u);
}

// A flood from a source over its reply limit is dropped unread: after its
// burst of twenty it draws no reply and no trace; the drops are reported once.
TEST_F(RequestServer, AFloodOverTheReplyLimitIsDroppedUnread)
{
    if (std::system("ip addr add 10.99.0.2/32 dev lo") != 0)
        GTEST_SKIP() << "no network namespace of our own to add a non-loopback address to";
    udp::socket flooder(io, udp::endpoint(boost::asio::ip::make_address_v4("10.99.0.2"), 0));
    recording::clearTrace();
    const std::string request = "STATUS_REQUEST ";
    for (int i = 0; i < 200; ++i)
        flooder.send_to(boost::asio::buffer(request), udp::endpoint(flooder.local_endpoint().address(), server->port()));
    // Loopback is not limited; its answer shows that the flood has been taken.
    fakecpu::setDefaultValue(11);
    client.send_to(boost::asio::buffer(request), serverEndpoint);
    EXPECT_EQ(receiveUntil("</status>"), std::vector<std::string>{statusReply("10.0.0.7", 11)});
    // The burst (one more if the test was slow) and the one from loopback.
    EXPECT_NEAR(static_cast<double>(recording::traceCount(kHandled)), 21.5, 1.0);
    const std::string report = "UdpZqServer  REPLIES DROPPED BY RATE LIMIT=[";
    EXPECT_EQ(gEventLog.take().rfind("\r ZqServer= " + report, 0), 0u);
    EXPECT_EQ(recording::traceCountStarting(report), 1u);
}

// A view reply that meets a full send buffer waits for room, as a status
// reply does. A slow queue on loopback (a token bucket in the test's own
// namespace) holds the replies, which count against the send buffer.
TEST_F(RequestServer, AViewReplyWaitsForRoomInAFullSendBuffer)
{
    if (std::system("tc qdisc add dev lo root tbf rate 20mbit burst 30kb limit 4mb") != 0)
        GTEST_SKIP() << "no traffic control on loopback of our own";
    struct Unshape {
        ~Unshape() { EXPECT_EQ(std::system("tc qdisc del dev lo root"), 0); }
    } unshape;
    const std::string text(3000, 't');
    const zq::ViewTexts texts{text, text, text, text, text, text, text};
    server->setViewSource([&texts] { return texts; });
#ifdef SO_RCVBUFFORCE  // traffic control, and so this test, is Linux's
    int room = 8 << 20;  // for every reply, whatever the system's default
    ASSERT_EQ(setsockopt(client.native_handle(), SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room), 0);
#endif
    const std::size_t kViews = 16;
    for (std::size_t i = 0; i < kViews; ++i)
        client.send_to(boost::asio::buffer(std::string("VIEW_REQUEST 0")), serverEndpoint);
    std::vector<char> buffer(zq::DatagramBuffer::kSize);
    for (std::size_t i = 0; i < kViews; ++i) {
        std::size_t length = 0;
        boost::system::error_code result;
        udp::endpoint from;
        ASSERT_TRUE(receiveOne(io, client, boost::asio::buffer(buffer), from, length, result)) << i;
        std::optional<zq::ViewReply> reply = zq::parseViewReply(buffer.data(), length);
        EXPECT_TRUE(reply && reply->texts == texts) << i;
    }
    EXPECT_EQ(gEventLog.take(), "");
}
