// The sender socket over loopback: what it sends, from where, what it traces
// and logs, and how its receive side treats incoming datagrams.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/ip/udp.hpp>

#include "fakes/recording_debug_output.h"
#include "net/udp_bound_socket.h"
#include "support/loopback.h"
#include "support/run_until.h"
#include "trace/trace.h"

namespace {

using boost::asio::ip::udp;

const std::string kHandled = "<==  UdpBoundSocket::handle_receive\n";

class SenderSocket : public ::testing::Test {
protected:
    void SetUp() override
    {
        peer.open(udp::v4());
        peer.bind(loopback(0));
        peerEndpoint = peer.local_endpoint();
        gEventLog.take();
        recording::clearTrace();
    }

    // A loopback port that nothing holds now: the system picks it for a
    // probe socket, which is closed again.
    unsigned short freePort()
    {
        udp::socket probe(io, loopback(0));
        return probe.local_endpoint().port();
    }

    // The next datagram that reaches the peer, and its source.
    std::string receiveAtPeer(udp::endpoint& from)
    {
        std::vector<char> buffer(70000);
        std::size_t received = 0;
        boost::system::error_code result;
        EXPECT_TRUE(receiveOne(io, peer, boost::asio::buffer(buffer), from, received, result))
            << "no datagram reached the peer";
        EXPECT_FALSE(result) << result.message();
        return std::string(buffer.data(), received);
    }

    boost::asio::io_service io;
    udp::socket peer{io};
    udp::endpoint peerEndpoint;
};

}  // namespace

TEST_F(SenderSocket, SendsTheDocumentFromItsBoundAddressAndPort)
{
    const unsigned short port = freePort();
    auto sender = std::make_unique<zq::UdpBoundSocket>(io, loopback(port));
    EXPECT_EQ(recording::traceTexts(),
              (std::vector<std::string>{
                  "==>  UdpBoundSocket::UdpBoundSocket\n",
                  "UdpBoundSocket::UdpBoundSocket  UDP SERVER ADDRESS=[127.0.0.1:" + std::to_string(port) + "]\n",
                  "<> UdpBoundSocket::start_receive\n",
                  "<==  UdpBoundSocket::UdpBoundSocket\n",
              }));

    recording::clearTrace();
    const std::string document = "<wdKA><ipAddr>127.0.0.1</ipAddr></wdKA>";
    sender->sendData(document, peerEndpoint);
    EXPECT_EQ(recording::traceTexts(),
              (std::vector<std::string>{
                  "==>  UdpBoundSocket::sendData\n",
                  "SEND TX DATA TO=[127.0.0.1:" + std::to_string(peerEndpoint.port()) + "]\n",
                  "SEND TX DATA=[" + document + "]\n",
                  "<==  UdpBoundSocket::sendData\n",
              }));

    udp::endpoint from;
    EXPECT_EQ(receiveAtPeer(from), document);
    EXPECT_EQ(from, loopback(port));
    EXPECT_EQ(gEventLog.take(), "");

    recording::clearTrace();
    sender.reset();
    EXPECT_EQ(recording::traceTexts(), std::vector<std::string>{"<> UdpBoundSocket::~UdpBoundSocket\n"});
    // The abandoned receive completes without reaching the destroyed object.
    io.poll();
    EXPECT_EQ(recording::traceCount("==>  UdpBoundSocket::handle_receive\n"), 0u);
}

TEST_F(SenderSocket, PortZeroSendsNothing)
{
    zq::UdpBoundSocket sender(io, loopback(0));
    recording::clearTrace();

    sender.sendData("<wdKA></wdKA>", loopback(0));

    EXPECT_EQ(recording::traceTexts(),
              (std::vector<std::string>{
                  "==>  UdpBoundSocket::sendData\n",
                  "<==  UdpBoundSocket::sendData  (remote.port() == 0)\n",
              }));
    EXPECT_EQ(gEventLog.take(), "");
}

TEST_F(SenderSocket, AZeroByteEndsTheDatagram)
{
    zq::UdpBoundSocket sender(io, loopback(0));
    udp::endpoint from;

    recording::clearTrace();
    sender.sendData(std::string("<wdKA>\0</wdKA>", 14), peerEndpoint);
    EXPECT_EQ(receiveAtPeer(from), "<wdKA>");
    EXPECT_EQ(recording::traceCount("SEND TX DATA=[<wdKA>]\n"), 1u);

    // Nothing before the zero: an empty datagram still goes out.
    sender.sendData(std::string("\0<wdKA></wdKA>", 14), peerEndpoint);
    EXPECT_EQ(receiveAtPeer(from), "");
}

TEST_F(SenderSocket, AnAddressThatCannotBeBoundIsLoggedOnceAndNeverThrown)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Wine accepts a bind to an address on no interface, so the failure cannot be provoked";
#endif
    // 192.0.2.1 (a documentation address) is on no interface here, so the
    // bind fails locally and nothing is sent anywhere.
    std::unique_ptr<zq::UdpBoundSocket> sender;
    EXPECT_NO_THROW(sender = std::make_unique<zq::UdpBoundSocket>(
                        io, udp::endpoint(boost::asio::ip::make_address_v4("192.0.2.1"), 34543)));

    EXPECT_EQ(gEventLog.take(), "\r ZqServer= *** EXCEPTION  UdpBoundSocket::UdpBoundSocket\n\r");
    EXPECT_EQ(recording::traceTexts(),
              (std::vector<std::string>{
                  "==>  UdpBoundSocket::UdpBoundSocket\n",
                  "UdpBoundSocket::UdpBoundSocket  UDP SERVER ADDRESS=[192.0.2.1:34543]\n",
                  "*** EXCEPTION  UdpBoundSocket::UdpBoundSocket\n",
              }));
    // No receive was armed.
    EXPECT_EQ(io.poll(), 0u);

    // The socket opened but never bound: the system binds it on its first
    // send, and the document still arrives.
    recording::clearTrace();
    sender->sendData("<wdKA></wdKA>", peerEndpoint);
    udp::endpoint from;
    EXPECT_EQ(receiveAtPeer(from), "<wdKA></wdKA>");
    EXPECT_EQ(recording::traceCount("<==  UdpBoundSocket::sendData\n"), 1u);
}

TEST_F(SenderSocket, AFailedSendIsLoggedAndTheNextOneGoesOut)
{
    zq::UdpBoundSocket sender(io, loopback(0));
    recording::clearTrace();

    // Larger than any UDP datagram: the system refuses it at once.
    const std::string tooLarge(70000, 'x');
    EXPECT_NO_THROW(sender.sendData(tooLarge, peerEndpoint));

    std::vector<std::string> texts = recording::traceTexts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "==>  UdpBoundSocket::sendData\n");
    EXPECT_EQ(texts[3], "*** EXCEPTION  UdpBoundSocket::sendData\n");
    EXPECT_EQ(gEventLog.take(), "\r ZqServer= *** EXCEPTION  UdpBoundSocket::sendData\n\r");

    sender.sendData("<wdKA></wdKA>", peerEndpoint);
    udp::endpoint from;
    EXPECT_EQ(receiveAtPeer(from), "<wdKA></wdKA>");
    EXPECT_EQ(gEventLog.take(), "");
}

TEST_F(SenderSocket, ReceivedDatagramsAreTracedOnlyAndReceivingGoesOn)
{
    const unsigned short port = freePort();
    zq::UdpBoundSocket sender(io, loopback(port));
    const std::string from = "RX DATA FROM=[127.0.0.1:" + std::to_string(peerEndpoint.port()) + "]\n";
    const std::string oversized = std::string(1600, 'a') + std::string(400, 'b');

    const std::vector<std::string> datagrams = {"0123456789", "0123456789A", oversized, "after"};
    for (const std::string& datagram : datagrams) {
        recording::clearTrace();
        peer.send_to(boost::asio::buffer(datagram), loopback(port));
        ASSERT_TRUE(runUntil(io, [] { return recording::traceCount(kHandled) == 1; })) << datagram.substr(0, 20);
        std::vector<std::string> expected = {"==>  UdpBoundSocket::handle_receive\n", from};
        if (datagram.size() > 1501) {
            // Only what fits in the buffer is taken.
            expected.push_back("SIP RX DATA  bytes_transferred=[1501] data=[" + std::string(1501, 'a') + "]\n");
        } else {
            expected.push_back("SIP RX DATA  bytes_transferred=[" + std::to_string(datagram.size()) +
                               "] data=[" + datagram + "]\n");
        }
        if (datagram.size() > 10)
            expected.push_back("UdpBoundSocket::parseZqMessage   NOT WIRED UP !!!!\n");
        expected.push_back("<> UdpBoundSocket::start_receive\n");
        expected.push_back(kHandled);
        EXPECT_EQ(recording::traceTexts(), expected);
    }
    EXPECT_EQ(gEventLog.take(), "");
}

TEST_F(SenderSocket, ATruncatedReceiveIsTracedAndOtherErrorsOnlyReArm)
{
    zq::UdpBoundSocket sender(io, loopback(0));

    // The message-size error: the buffer holds the datagram's first bytes
    // (here none arrived, so it is still cleared).
    recording::clearTrace();
    sender.handle_receive(boost::asio::error::message_size, 1501);
    EXPECT_EQ(recording::traceTexts(),
              (std::vector<std::string>{
                  "==>  UdpBoundSocket::handle_receive\n",
                  "RX DATA FROM=[0.0.0.0:0]\n",
                  "SIP RX DATA  bytes_transferred=[1501] data=[]\n",
                  "UdpBoundSocket::parseZqMessage   NOT WIRED UP !!!!\n",
                  "<> UdpBoundSocket::start_receive\n",
                  kHandled,
              }));

    recording::clearTrace();
    sender.handle_receive(boost::asio::error::connection_refused, 0);
    EXPECT_EQ(recording::traceTexts(),
              (std::vector<std::string>{
                  "==>  UdpBoundSocket::handle_receive\n",
                  "<> UdpBoundSocket::start_receive\n",
                  kHandled,
              }));
    EXPECT_EQ(gEventLog.take(), "");
}
