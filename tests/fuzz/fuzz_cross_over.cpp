// Configuration processing (ZqServer::setCrossOver) over a scripted host. The
// input's first line lists the host's addresses, separated by blanks, in
// lookup order ("!" as the line's first character makes the lookup fail);
// the rest is the configuration message. One server takes every input in
// turn, so each call also starts from what the inputs before it left.
//
// Checked against a model written here from the rules: up to five local and
// five server addresses, pairs on a common network of the first three octets
// (lenient conversion) in local-then-server order, at most five recorded, the
// strict parse of a matched pair's addresses (a failure ends the call, keeps
// what was written before it and leaves the alarm settings as they were),
// the port, the alarm settings and the trigger text, and the event log.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/xml_value.h"
#include "fakes/fake_host.h"
#include "fakes/idle_server.h"
#include "fakes/recording_debug_output.h"
#include "fuzz/fuzz_support.h"
#include "trace/trace.h"

namespace {

using Endpoint = zq::ZqServer::Endpoint;

// Made once and never destroyed: it must outlive every input, and the
// process ends without running down the trace it writes to.
IdleServer* gIdle = nullptr;

std::vector<std::string> splitBlanks(const std::string& line)
{
    std::vector<std::string> words;
    std::string::size_type i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        std::string::size_type start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

// The host's address text as the lookup hands it over and the
// local-interfaces text shows it (lenient conversion, all ones when rejected).
std::string lookedUpText(const std::string& text)
{
    in_addr address{};
    if (::inet_aton(text.c_str(), &address) == 0)
        address.s_addr = 0xFFFFFFFFu;
    char buffer[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &address, buffer, sizeof buffer);
    return buffer;
}

// The network (first three octets) by the lenient conversion, host order.
std::uint32_t network(const std::string& text)
{
    in_addr address{};
    std::uint32_t value = ::inet_aton(text.c_str(), &address) != 0 ? ntohl(address.s_addr) : 0xFFFFFFFFu;
    return value & 0xFFFFFF00u;
}

// The strict form: four decimal octets 0..255, no leading zeros, nothing
// else. Returns false for anything else.
bool strictQuad(const std::string& text, std::uint32_t& value)
{
    value = 0;
    int parts = 0;
    std::string::size_type i = 0;
    for (;;) {
        std::string::size_type start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        std::string digits = text.substr(start, i - start);
        if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0'))
            return false;
        unsigned octet = static_cast<unsigned>(std::stoul(digits));
        if (octet > 255)
            return false;
        value = (value << 8) | octet;
        if (++parts == 4)
            return i == text.size();
        if (i == text.size() || text[i] != '.')
            return false;
        ++i;
    }
}

// Up to five values of a repeated element; an empty one ends the list.
std::vector<std::string> firstFive(const std::string& tag, const std::string& text)
{
    std::vector<std::string> values;
    std::string::size_type position = 0;
    while (values.size() < 5) {
        std::string value = getXmlValue(tag, text, position);
        if (value.empty())
            break;
        values.push_back(value);
    }
    return values;
}

struct State {
    int numPairs;
    std::array<Endpoint, zq::kMaxPairs> local;
    std::array<Endpoint, zq::kMaxPairs> remote;
    std::string commonLocalIps;
    int remotePort;
    bool configured;
    int alarmPercent;
    int alarmSeconds;
    std::string trigger;
};

State stateOf(const zq::ZqServer& server)
{
    return State{server.mNumPairs,        server.mLocalEndpoints, server.mRemoteEndpoints,
                 server.mCommonLocalIps.get(), server.mRemotePort,  server.mConfigured,
                 server.mAlarmPercent,    server.mAlarmSeconds,   server.mTriggerText.get()};
}

// What the call should leave, from the state before it.
State expectedState(const State& before, const std::vector<std::string>& hosts, bool lookupFails,
                    const std::string& payload, bool& failed)
{
    State after = before;
    failed = false;
    std::vector<std::string> localList;
    if (!lookupFails)
        for (const std::string& host : hosts)
            if (localList.size() < 5)
                localList.push_back(lookedUpText(host));
    const std::vector<std::string> serverList = firstFive("<srvIpAddr>", payload);

    after.numPairs = 0;
    after.commonLocalIps.clear();
    const int port = getXmlIntValue("<srvIpPort>", payload);
    for (const std::string& local : localList) {
        for (const std::string& server : serverList) {
            if (failed || network(local) != network(server) || after.numPairs == zq::kMaxPairs)
                continue;
            after.commonLocalIps += (after.commonLocalIps.empty() ? "" : ",  ") + local;
            after.remotePort = port;
            std::uint32_t localValue = 0;
            std::uint32_t serverValue = 0;
            if (!strictQuad(local, localValue) || !strictQuad(server, serverValue)) {
                failed = true;
                continue;
            }
            const auto wirePort = static_cast<unsigned short>(port & 0xFFFF);
            after.local[static_cast<std::size_t>(after.numPairs)] =
                Endpoint(boost::asio::ip::address_v4(localValue), wirePort);
            after.remote[static_cast<std::size_t>(after.numPairs)] =
                Endpoint(boost::asio::ip::address_v4(serverValue), wirePort);
            ++after.numPairs;
        }
    }
    if (!failed) {
        after.configured = true;
        after.alarmPercent = getXmlIntValue("<cpuPercent>", payload);
        after.alarmSeconds = getXmlIntValue("<alarmSeconds>", payload);
        after.trigger = std::to_string(after.alarmPercent) + "%:" + std::to_string(after.alarmSeconds) + "s";
    }
    return after;
}

std::string endpointText(const Endpoint& endpoint)
{
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The server binds the agent's ports and joins its groups.
    fuzz::isolateNetwork();
    fakehost::set(fakehost::Host{});
    gIdle = new IdleServer;
    gEventLog.take();
    recording::clearTrace();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string::size_type newline = input.find('\n');
    std::string hostLine = newline == std::string::npos ? std::string() : input.substr(0, newline);
    const std::string payload = newline == std::string::npos ? input : input.substr(newline + 1);

    fakehost::Host host;
    host.name = "plant-pc";
    host.lookupFails = !hostLine.empty() && hostLine[0] == '!';
    if (host.lookupFails)
        hostLine.erase(0, 1);
    // More than five addresses are allowed: only the first five count.
    std::vector<std::string> hosts = splitBlanks(hostLine);
    if (hosts.size() > 8)
        hosts.resize(8);
    host.addresses = hosts;
    fakehost::set(host);

    zq::ZqServer& server = *gIdle;
    const State before = stateOf(server);
    bool failed = false;
    const State expected = expectedState(before, hosts, host.lookupFails, payload, failed);

    zq::ZqServer::setCrossOver(payload);

    const State after = stateOf(server);
    const std::string what = "hosts [" + fuzz::printable(hostLine) + "] message [" + fuzz::printable(payload) + "]";
    FUZZ_CHECK(after.numPairs >= 0 && after.numPairs <= zq::kMaxPairs, what);
    FUZZ_CHECK(after.numPairs == expected.numPairs,
               std::to_string(after.numPairs) + " pairs, expected " + std::to_string(expected.numPairs) + ": " + what);
    for (std::size_t k = 0; k < static_cast<std::size_t>(after.numPairs); ++k) {
        FUZZ_CHECK(after.local[k] == expected.local[k],
                   "local endpoint " + std::to_string(k) + " " + endpointText(after.local[k]) + ", expected " +
                       endpointText(expected.local[k]) + ": " + what);
        FUZZ_CHECK(after.remote[k] == expected.remote[k],
                   "server endpoint " + std::to_string(k) + " " + endpointText(after.remote[k]) + ", expected " +
                       endpointText(expected.remote[k]) + ": " + what);
    }
    FUZZ_CHECK(after.commonLocalIps == expected.commonLocalIps,
               "common addresses [" + after.commonLocalIps + "], expected [" + expected.commonLocalIps + "]: " + what);
    FUZZ_CHECK(after.remotePort == expected.remotePort,
               "port " + std::to_string(after.remotePort) + ", expected " + std::to_string(expected.remotePort) +
                   ": " + what);
    FUZZ_CHECK(after.configured == expected.configured, what);
    FUZZ_CHECK(after.alarmPercent == expected.alarmPercent && after.alarmSeconds == expected.alarmSeconds &&
                   after.trigger == expected.trigger,
               "trigger [" + after.trigger + "], expected [" + expected.trigger + "]: " + what);
    FUZZ_CHECK(server.mHostName.get() == "plant-pc", what);

    const std::string log = gEventLog.take();
    const std::string failure = failed ? "\r ZqServer= *** EXCEPTION  ZqServer::setCrossOver\n\r" : "";
    FUZZ_CHECK(log == failure, "event log [" + fuzz::printable(log) + "]: " + what);

    const std::vector<std::string> texts = recording::traceTexts();
    recording::clearTrace();
    FUZZ_CHECK(!texts.empty() && texts.front() == "==>  ZqServer::setCrossOver\n" &&
                   texts.back() == "<==  ZqServer::setCrossOver\n",
               what);
    for (const std::string& text : texts)
        FUZZ_CHECK(text.size() < kTraceBufferSize, "a trace text of " + std::to_string(text.size()) + " bytes");
    return 0;
}
