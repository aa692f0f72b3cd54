// The multicast receivers' handling of one received datagram. The input is
// sent as one datagram to the Orvane group and then to the cloud group, over
// loopback inside a private network namespace, and the receivers' I/O is run
// until each has handled it. A server object (whose own I/O never runs) is
// there for the configuration to reach. Checked from the rules:
//   - at most 1024 bytes are taken; they are echoed on standard error whole,
//     and logged up to the first zero byte; one CPU sample is taken;
//   - the Orvane receiver hands a text of more than ten bytes that holds
//     "beaconCfgAlarm" to the configuration processing, all bytes of it, and
//     leaves the cloud server alone;
//   - the cloud receiver sets the cloud server from such a text and leaves
//     the Orvane configuration alone;
//   - anything else changes nothing in the server.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/udp.hpp>

#include "config/xml_value.h"
#include "fakes/idle_server.h"
#include "fakes/plant_host.h"
#include "fuzz/fuzz_support.h"
#include "net/multicast_receiver.h"

namespace {

using boost::asio::ip::udp;

constexpr std::size_t kLargestDatagram = 65507;
constexpr std::size_t kReceiveSize = 1024;
constexpr unsigned short kPort = 34543;
const char kOrvaneGroup[] = "224.0.1.224";
const char kCloudGroup[] = "224.0.2.224";
const std::string kOrvaneReceived = "MulticastReceiver::handle_receive_from\n";
const std::string kCloudReceived = "MulticastReceiverCloud::handle_receive_from\n";
const std::string kSetCrossOver = "==>  ZqServer::setCrossOver\n";
// The scripted CPU load, and what the sampler prints for each sample of it.
constexpr int kCpu = 7;
const std::string kSampleLine = "\n\nCPU Total usage:   7%\n";

struct Harness {
    boost::asio::io_service io;
    std::unique_ptr<IdleServer> server;
    std::unique_ptr<MulticastReceiver> orvane;
    std::unique_ptr<MulticastReceiverCloud> cloud;
    udp::socket sender{io};
    int out = -1;
};

Harness* gHarness = nullptr;

// What of the server the receivers may change.
struct Orvane {
    bool configured;
    int numPairs;
    int remotePort;
    int alarmPercent;
    int alarmSeconds;
    std::string trigger;
    std::string common;

    bool operator==(const Orvane& other) const
    {
        return configured == other.configured && numPairs == other.numPairs && remotePort == other.remotePort &&
               alarmPercent == other.alarmPercent && alarmSeconds == other.alarmSeconds &&
               trigger == other.trigger && common == other.common;
    }
};

Orvane orvaneOf(const zq::ZqServer& s)
{
    return Orvane{s.mConfigured,   s.mNumPairs,          s.mRemotePort,          s.mAlarmPercent,
                  s.mAlarmSeconds, s.mTriggerText.get(), s.mCommonLocalIps.get()};
}

bool traceHas(const std::string& text)
{
    const std::vector<std::string> texts = recording::traceTexts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// Sends bytes to group and runs the receivers until the one named by
// received has taken a datagram.
void deliver(const char* group, const std::string& bytes, const std::string& received, const std::string& what)
{
    Harness& h = *gHarness;
    recording::clearTrace();
    h.sender.send_to(boost::asio::buffer(bytes), udp::endpoint(boost::asio::ip::make_address(group), kPort));
    FUZZ_CHECK(runUntil(h.io, [&] { return traceHas(received); }),
               std::string("no receiver took the datagram sent to ") + group + ": " + what);
    // The other receiver never takes it.
    const std::string& other = received == kOrvaneReceived ? kCloudReceived : kOrvaneReceived;
    FUZZ_CHECK(!traceHas(other), std::string("the other receiver took the datagram sent to ") + group + ": " + what);
}

// What every datagram gets from either receiver: the echo, the log entry and
// one CPU sample; the log entry of a failed configuration follows when the
// trace shows one.
void checkTaken(const std::string& taken, const std::string& what)
{
    Harness& h = *gHarness;
    const std::string printed = fuzz::takeStdout(h.out);
    FUZZ_CHECK(printed.empty(), "standard output [" + fuzz::printable(printed) + "]: " + what);
    // The echo, then the sampler's line.
    const std::string diagnostics = recording::takeDiagnostics();
    FUZZ_CHECK(diagnostics == taken + "\n" + kSampleLine,
               "diagnostics [" + fuzz::printable(diagnostics) + "]: " + what);
    const std::string logged(taken.c_str());
    const std::string failure = "*** EXCEPTION  ZqServer::setCrossOver\n";
    const std::string expected =
        "\r MulticastRX= " + logged + "\r" + (traceHas(failure) ? "\r ZqServer= " + failure + "\r" : "");
    const std::string log = gEventLog.take();
    FUZZ_CHECK(log == expected, "event log [" + fuzz::printable(log) + "]: " + what);
    for (const std::string& text : recording::traceTexts())
        FUZZ_CHECK(text.size() < kTraceBufferSize, "a trace text of " + std::to_string(text.size()) + " bytes");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::isolateNetwork();
    planthost::use({"192.168.1.5", "10.0.0.7"});
    gHarness = new Harness;
    Harness& h = *gHarness;
    h.out = fuzz::captureStdout();
    planthost::scriptCpu();
    fakecpu::setDefaultValue(kCpu);
    h.server = std::make_unique<IdleServer>();
    h.orvane = std::make_unique<MulticastReceiver>(h.io, kOrvaneGroup);
    h.cloud = std::make_unique<MulticastReceiverCloud>(h.io, kCloudGroup);
    h.sender.open(udp::v4());
    h.sender.set_option(boost::asio::ip::multicast::outbound_interface(boost::asio::ip::address_v4::loopback()));
    h.sender.set_option(boost::asio::ip::multicast::enable_loopback(true));
    h.sender.bind(udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    gEventLog.take();
    recording::clearTrace();
    recording::takeDiagnostics();
    fuzz::takeStdout(h.out);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Harness& h = *gHarness;
    zq::ZqServer& server = *h.server;
    const std::string bytes(reinterpret_cast<const char*>(data), std::min(size, kLargestDatagram));
    const std::string taken = bytes.substr(0, kReceiveSize);
    const bool config = taken.size() > 10 && taken.find("beaconCfgAlarm") != std::string::npos;
    const std::string what = "datagram [" + fuzz::printable(bytes) + "]";

    // The Orvane group.
    const std::string cloudBefore = server.mCloudServer.get();
    const Orvane orvaneBefore = orvaneOf(server);
    deliver(kOrvaneGroup, bytes, kOrvaneReceived, what);
    checkTaken(taken, what);
    FUZZ_CHECK(traceHas("MulticastReceiver::parseMcZqMessage\n") == (taken.size() > 10), what);
    FUZZ_CHECK(traceHas(kSetCrossOver) == config, what);
    FUZZ_CHECK(server.mCloudServer.get() == cloudBefore, "the Orvane group changed the cloud server: " + what);
    if (!config) {
        FUZZ_CHECK(orvaneOf(server) == orvaneBefore, "a datagram that is no configuration changed it: " + what);
    } else if (!traceHas("*** EXCEPTION  ZqServer::setCrossOver\n")) {
        // The configuration saw every byte taken, zero bytes included.
        FUZZ_CHECK(server.mConfigured, what);
        FUZZ_CHECK(server.mAlarmPercent == getXmlIntValue("<cpuPercent>", taken) &&
                       server.mAlarmSeconds == getXmlIntValue("<alarmSeconds>", taken),
                   "trigger [" + server.mTriggerText.get() + "]: " + what);
    }

    // The cloud group.
    const Orvane orvaneAfter = orvaneOf(server);
    deliver(kCloudGroup, bytes, kCloudReceived, what);
    checkTaken(taken, what);
    FUZZ_CHECK(traceHas("MulticastReceiverCloud::parseMcZqMessage\n") == (taken.size() > 10), what);
    FUZZ_CHECK(!traceHas(kSetCrossOver), "the cloud group reached the configuration: " + what);
    FUZZ_CHECK(orvaneOf(server) == orvaneAfter, "the cloud group changed the Orvane configuration: " + what);
    const std::string cloudExpected = config ? getXmlStringValue("<srvIpAddr>", taken) : cloudBefore;
    FUZZ_CHECK(server.mCloudServer.get() == cloudExpected,
               "cloud server [" + fuzz::printable(server.mCloudServer.get()) + "], expected [" +
                   fuzz::printable(cloudExpected) + "]: " + what);
    recording::clearTrace();
    return 0;
}
