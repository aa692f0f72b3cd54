// The request server's handling of one received datagram. The input is sent
// as one datagram over loopback, inside a private network namespace, to a
// request server bound to a port of its own, and the server's I/O is run
// until it has handled it. Checked from the rules:
//   - at most 1501 bytes are taken; the text ends at the first zero byte;
//   - a reply comes exactly when more than ten bytes arrived and the text
//     holds "STATUS_REQUEST " but not "BEACON_CFG_ALARM ", and it is the
//     status document byte for byte, sent from the server's port, with one
//     fresh CPU sample (the sampler writes each sample to standard error);
//     or when the text, holding neither, is a well-formed view request (the
//     client is on loopback), and it is a well-formed view reply to it;
//   - the trace of the datagram is the documented sequence;
//   - the server takes the next datagram afterwards.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/ip/udp.hpp>

#include "fakes/plant_host.h"
#include "fuzz/fuzz_support.h"
#include "hostinfo/os_description.h"
#include "net/udp_zq_server.h"
#include "net/view_protocol.h"

namespace {

using boost::asio::ip::udp;

constexpr std::size_t kLargestDatagram = 65507;
constexpr std::size_t kReceiveSize = 1501;
constexpr int kCpu = 42;
const std::string kSampleLine = "\n\nCPU Total usage:  42%\n";
const std::string kHandled = "<==  UdpZqServer::handle_receive\n";

struct Harness {
    boost::asio::io_service io;
    std::unique_ptr<zq::UdpZqServer> server;
    udp::endpoint serverEndpoint;
    udp::socket client{io};
    std::string clientFrom;
    std::string reply;
    int out = -1;
};

Harness* gHarness = nullptr;

std::string statusReply()
{
    return "<status><ipAddr>10.0.0.7</ipAddr>\n"
           "<ipPort>45654</ipPort>\n"
           "<cpuPercent>" + std::to_string(kCpu) + "</cpuPercent>\n"
           "<os>" + buildOsDescription() + "</os>\n"
           "</status>";
}

// What trace() makes of a text: at most one less than its buffer.
std::string traced(const std::string& text)
{
    return text.substr(0, kTraceBufferSize - 1);
}

// The trace that handling taken bytes (of which text is the part up to the
// first zero byte) must produce.
std::vector<std::string> expectedTrace(std::size_t taken, const std::string& text, bool beacon, bool status,
                                       bool view)
{
    Harness& h = *gHarness;
    std::vector<std::string> lines = {
        "==>  UdpZqServer::handle_receive\n",
        traced("RX DATA FROM=" + h.clientFrom + "\n"),
        traced("SIP RX DATA  bytes_transferred=[" + std::to_string(taken) + "] data=[" + text + "]\n"),
    };
    if (taken > 10) {
        lines.push_back("UdpZqServer::parseZqMessage\n");
        if (!text.empty()) {
            lines.push_back(traced("RX DATA FROM=" + h.clientFrom + "\n"));
            if (beacon) {
                lines.insert(lines.end(), {"BEACON_CFG_ALARM ", "UdpZqServer::decodeZqMessage",
                                           "UdpZqServer::handle_BEACON_CFG_ALARM", "UdpZqMessage::~UdpZqMessage"});
            } else if (status) {
                lines.insert(lines.end(), {"STATUS_REQUEST", "UdpZqServer::decodeZqMessage",
                                           "UdpZqServer::handle_STATUS_REQUEST",
                                           traced("remote_endpoint_=" + h.clientFrom + "\n"),
                                           "UdpZqMessage::~UdpZqMessage"});
            } else if (view) {
                lines.insert(lines.end(), {"VIEW_REQUEST", "UdpZqServer::decodeZqMessage",
                                           "UdpZqServer::handle_VIEW_REQUEST", "UdpZqMessage::~UdpZqMessage"});
            }
        }
    }
    lines.push_back("<> UdpZqServer::start_receive\n");
    lines.push_back(kHandled);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::isolateNetwork();
    planthost::use({"10.0.0.7", "192.168.1.5"});
    gHarness = new Harness;
    Harness& h = *gHarness;
    h.out = fuzz::captureStdout();
    planthost::scriptCpu();
    fakecpu::setDefaultValue(kCpu);
    h.server = std::make_unique<zq::UdpZqServer>(h.io, 0);
    h.server->setViewSource([] { return zq::ViewTexts{"42", "OS", "pc", "", "", "", ""}; });
    h.serverEndpoint = udp::endpoint(boost::asio::ip::address_v4::loopback(), h.server->port());
    h.client.open(udp::v4());
    h.client.bind(udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    h.client.non_blocking(true);
    h.clientFrom = "[127.0.0.1:" + std::to_string(h.client.local_endpoint().port()) + "]";
    h.reply = statusReply();
    gEventLog.take();
    recording::clearTrace();
    recording::takeDiagnostics();
    fuzz::takeStdout(h.out);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Harness& h = *gHarness;
    const std::string bytes(reinterpret_cast<const char*>(data), std::min(size, kLargestDatagram));
    const std::string what = "datagram [" + fuzz::printable(bytes) + "]";

    recording::clearTrace();
    h.client.send_to(boost::asio::buffer(bytes), h.serverEndpoint);
    const bool handled = runUntil(h.io, [] {
        const std::vector<std::string> texts = recording::traceTexts();
        return std::find(texts.begin(), texts.end(), kHandled) != texts.end();
    });
    FUZZ_CHECK(handled, "the server never handled the datagram: " + what);

    const std::size_t taken = std::min(bytes.size(), kReceiveSize);
    const std::string text(bytes.data(), std::find(bytes.data(), bytes.data() + taken, '\0'));
    const bool beacon = text.find("BEACON_CFG_ALARM ") != std::string::npos;
    const bool status = text.find("STATUS_REQUEST ") != std::string::npos;
    const bool answered = taken > 10 && !beacon && status;
    const std::optional<zq::ViewRequest> viewAsked = zq::parseViewRequest(text);
    const bool view = taken > 10 && !beacon && !status && viewAsked.has_value();

    const std::vector<std::string> texts = recording::traceTexts();
    const std::vector<std::string> expected = expectedTrace(taken, text, beacon, status, view);
    if (texts != expected) {
        std::string both;
        for (const std::string& t : texts)
            both += "\n    got      " + fuzz::printable(t);
        for (const std::string& t : expected)
            both += "\n    expected " + fuzz::printable(t);
        fuzz::fail("the trace of the datagram", what + both);
    }

    // The reply, if any, was sent before the handler returned: it is in the
    // client's queue now.
    std::vector<char> buffer(65536);
    udp::endpoint from;
    boost::system::error_code error;
    std::size_t n = h.client.receive_from(boost::asio::buffer(buffer), from, 0, error);
    if (answered) {
        FUZZ_CHECK(!error, "no reply to a status request: " + error.message() + ": " + what);
        FUZZ_CHECK(from == h.serverEndpoint, "the reply came from another port: " + what);
        FUZZ_CHECK(std::string(buffer.data(), n) == h.reply,
                   "reply [" + fuzz::printable(std::string(buffer.data(), n)) + "]: " + what);
        n = h.client.receive_from(boost::asio::buffer(buffer), from, 0, error);
    } else if (view) {
        FUZZ_CHECK(!error, "no reply to a view request: " + error.message() + ": " + what);
        std::optional<zq::ViewReply> reply = zq::parseViewReply(buffer.data(), n);
        FUZZ_CHECK(reply && reply->asked == viewAsked->from && reply->texts.cpuUsage == "42",
                   "view reply [" + fuzz::printable(std::string(buffer.data(), n)) + "]: " + what);
        n = h.client.receive_from(boost::asio::buffer(buffer), from, 0, error);
    }
    FUZZ_CHECK(error == boost::asio::error::would_block, "an unexpected reply: " + what);
    const std::string printed = fuzz::takeStdout(h.out);
    FUZZ_CHECK(printed.empty(), "standard output [" + fuzz::printable(printed) + "]: " + what);
    const std::string sampled = recording::takeDiagnostics();
    FUZZ_CHECK(sampled == (answered ? kSampleLine : std::string()),
               "diagnostics [" + fuzz::printable(sampled) + "]: " + what);
    FUZZ_CHECK(gEventLog.take().empty(), "an event-log entry: " + what);
    recording::clearTrace();
    return 0;
}
