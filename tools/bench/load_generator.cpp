// zq-loadgen: a UDP request/response load generator for the bench.
//
// It keeps WINDOW requests in flight, one on each of WINDOW sockets (so each
// has a source port of its own): WINDOW 1 is a closed loop. Every reply is
// checked, timed from its request's send, and answered at once by the next
// request on the same socket, until COUNT requests have been sent and
// answered (or timed out) or SECONDS have passed, whichever comes first.
//
// Request kinds:
//   status  the agent's "STATUS_REQUEST "; a reply must begin with "<status>"
//           and end with "</status>";
//   echo    a numbered text; the reply must be the same bytes;
//   snmp    an SNMPv2c GetRequest for one OID, BER-encoded here; the reply
//           must be a GetResponse with the request's id, error-status 0 and a
//           value (not noSuchObject, noSuchInstance or endOfMibView).
//
// It prints one line of KEY=VALUE fields (see printResult) and exits 0 when
// at least one reply was good, 1 otherwise, 2 on a usage error.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const char* const kHelp =
    "usage: zq-loadgen --kind status|echo|snmp [OPTIONS]\n"
    "  --host ADDR        server address (default 127.0.0.1; loopback only)\n"
    "  --port N           server port (default 45654)\n"
    "  --window N         requests in flight, one per source port (default 1)\n"
    "  --count N          requests to send at most (default 10000)\n"
    "  --seconds S        time limit (default 10)\n"
    "  --timeout-ms N     a request not answered within N ms is lost (default 1000)\n"
    "  --community TEXT   SNMP community (default public)\n"
    "  --oid OID          SNMP object (default 1.3.6.1.4.1.2021.10.1.3.1, laLoad.1)\n"
    "  --label TEXT       first field of the result line\n";

std::int64_t nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

enum class Kind { Status, Echo, Snmp };

struct Options {
    Kind kind = Kind::Status;
    std::string kindName = "status";
    std::string host = "127.0.0.1";
    unsigned port = 45654;
    unsigned window = 1;
    unsigned long count = 10000;
    double seconds = 10.0;
    unsigned timeoutMs = 1000;
    std::string community = "public";
    std::string oid = "1.3.6.1.4.1.2021.10.1.3.1";  // laLoad.1
    std::string label;
};

// ---- BER, just enough for one GetRequest and its GetResponse -------------

void appendLength(std::string& out, std::size_t length)
{
    if (length < 0x80) {
        out += static_cast<char>(length);
        return;
    }
    std::string bytes;
    while (length > 0) {
        bytes.insert(bytes.begin(), static_cast<char>(length & 0xFF));
        length >>= 8;
    }
    out += static_cast<char>(0x80 | bytes.size());
    out += bytes;
}

std::string tlv(unsigned char tag, const std::string& value)
{
    std::string out(1, static_cast<char>(tag));
    appendLength(out, value.size());
    return out + value;
}

std::string berInteger(std::int64_t value)
{
    // Two's complement, shortest form.
    std::string bytes;
    for (;;) {
        bytes.insert(bytes.begin(), static_cast<char>(value & 0xFF));
        std::int64_t rest = value >> 8;  // arithmetic shift keeps the sign
        bool signBit = (bytes.front() & 0x80) != 0;
        if ((rest == 0 && !signBit) || (rest == -1 && signBit))
            break;
        value = rest;
    }
    return tlv(0x02, bytes);
}

bool berOid(const std::string& text, std::string& out)
{
    std::vector<std::uint32_t> arcs;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = text.find('.', i);
        if (end == std::string::npos)
            end = text.size();
        if (end == i)
            return false;
        std::uint32_t arc = 0;
        for (std::size_t j = i; j < end; ++j) {
            if (text[j] < '0' || text[j] > '9')
                return false;
            arc = arc * 10 + static_cast<std::uint32_t>(text[j] - '0');
        }
        arcs.push_back(arc);
        i = end + 1;
    }
    if (arcs.size() < 2 || arcs[0] > 2)
        return false;
    std::string body(1, static_cast<char>(arcs[0] * 40 + arcs[1]));
    for (std::size_t k = 2; k < arcs.size(); ++k) {
        std::string chunk;
        std::uint32_t arc = arcs[k];
        chunk.insert(chunk.begin(), static_cast<char>(arc & 0x7F));
        arc >>= 7;
        while (arc > 0) {
            chunk.insert(chunk.begin(), static_cast<char>(0x80 | (arc & 0x7F)));
            arc >>= 7;
        }
        body += chunk;
    }
    out = tlv(0x06, body);
    return true;
}

std::string snmpGet(const std::string& community, const std::string& oid, std::int32_t requestId)
{
    std::string varbind = tlv(0x30, oid + tlv(0x05, ""));
    std::string pdu = berInteger(requestId) + berInteger(0) + berInteger(0) + tlv(0x30, varbind);
    std::string message = berInteger(1) /* version-2c */ + tlv(0x04, community) + tlv(0xA0, pdu);
    return tlv(0x30, message);
}

// Reads one TLV header at data[pos]; on success pos is at the value.
bool readHeader(const unsigned char* data, std::size_t size, std::size_t& pos, unsigned char& tag,
                std::size_t& length)
{
    if (pos + 2 > size)
        return false;
    tag = data[pos++];
    unsigned char first = data[pos++];
    if (first < 0x80) {
        length = first;
    } else {
        unsigned count = first & 0x7F;
        if (count == 0 || count > 4 || pos + count > size)
            return false;
        length = 0;
        for (unsigned k = 0; k < count; ++k)
            length = (length << 8) | data[pos++];
    }
    return length <= size - pos;
}

bool readInteger(const unsigned char* data, std::size_t size, std::size_t& pos, std::int64_t& value)
{
    unsigned char tag = 0;
    std::size_t length = 0;
    if (!readHeader(data, size, pos, tag, length) || tag != 0x02 || length == 0 || length > 8)
        return false;
    value = (data[pos] & 0x80) ? -1 : 0;
    for (std::size_t k = 0; k < length; ++k)
        value = static_cast<std::int64_t>(static_cast<std::uint64_t>(value) << 8) | data[pos + k];
    pos += length;
    return true;
}

// 1: a good GetResponse for requestId; 0: a reply to another request (stale);
// -1: malformed or an error.
int checkSnmpResponse(const unsigned char* data, std::size_t size, std::int32_t requestId)
{
    std::size_t pos = 0;
    unsigned char tag = 0;
    std::size_t length = 0;
    std::int64_t value = 0;
    if (!readHeader(data, size, pos, tag, length) || tag != 0x30)
        return -1;
    if (!readInteger(data, size, pos, value) || value != 1)
        return -1;
    if (!readHeader(data, size, pos, tag, length) || tag != 0x04)
        return -1;
    pos += length;  // community
    if (!readHeader(data, size, pos, tag, length) || tag != 0xA2)
        return -1;
    if (!readInteger(data, size, pos, value))
        return -1;
    if (value != requestId)
        return 0;
    std::int64_t errorStatus = 0;
    std::int64_t errorIndex = 0;
    if (!readInteger(data, size, pos, errorStatus) || !readInteger(data, size, pos, errorIndex) ||
        errorStatus != 0)
        return -1;
    if (!readHeader(data, size, pos, tag, length) || tag != 0x30)  // varbind list
        return -1;
    if (!readHeader(data, size, pos, tag, length) || tag != 0x30)  // first varbind
        return -1;
    if (!readHeader(data, size, pos, tag, length) || tag != 0x06)  // its name
        return -1;
    pos += length;
    if (!readHeader(data, size, pos, tag, length))  // its value
        return -1;
    if (tag == 0x05 || tag == 0x80 || tag == 0x81 || tag == 0x82)
        return -1;  // NULL, noSuchObject, noSuchInstance, endOfMibView
    return 1;
}

// ---- the load loop ---------------------------------------------------------

struct Slot {
    int fd = -1;
    bool inFlight = false;
    std::int64_t sentAt = 0;
    std::uint32_t id = 0;      // SNMP request id or echo number
    std::string request;       // the bytes last sent
};

struct Result {
    unsigned long sent = 0;
    unsigned long good = 0;
    unsigned long bad = 0;     // replies that failed the check
    unsigned long stale = 0;   // replies to an earlier, timed-out request
    unsigned long lost = 0;    // requests not answered in time
    unsigned long errors = 0;  // send or receive errors
    std::int64_t elapsedNs = 0;
    std::vector<std::int64_t> latencies;
};

class LoadGenerator {
public:
    explicit LoadGenerator(const Options& options) : mOptions(options) {}

    bool open()
    {
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<std::uint16_t>(mOptions.port));
        if (inet_pton(AF_INET, mOptions.host.c_str(), &server.sin_addr) != 1) {
            std::fprintf(stderr, "zq-loadgen: bad address: %s\n", mOptions.host.c_str());
            return false;
        }
        if ((ntohl(server.sin_addr.s_addr) >> 24) != 127) {
            std::fprintf(stderr, "zq-loadgen: loopback addresses only\n");
            return false;
        }
        if (mOptions.kind == Kind::Snmp && !berOid(mOptions.oid, mOid)) {
            std::fprintf(stderr, "zq-loadgen: bad OID: %s\n", mOptions.oid.c_str());
            return false;
        }
        mSlots.resize(mOptions.window);
        for (Slot& slot : mSlots) {
            slot.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (slot.fd < 0) {
                std::perror("zq-loadgen: socket");
                return false;
            }
            int size = 1 << 20;
            ::setsockopt(slot.fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
            // connect() picks the source port and filters replies to the server's.
            if (::connect(slot.fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
                std::perror("zq-loadgen: connect");
                return false;
            }
        }
        return true;
    }

    ~LoadGenerator()
    {
        for (Slot& slot : mSlots)
            if (slot.fd >= 0)
                ::close(slot.fd);
    }

    Result run()
    {
        Result result;
        result.latencies.reserve(std::min<unsigned long>(mOptions.count, 1000000UL));
        const std::int64_t start = nowNs();
        const std::int64_t deadline = start + static_cast<std::int64_t>(mOptions.seconds * 1e9);
        const std::int64_t timeout = static_cast<std::int64_t>(mOptions.timeoutMs) * 1000000LL;
        std::vector<pollfd> fds(mSlots.size());
        for (std::size_t i = 0; i < mSlots.size(); ++i)
            fds[i] = pollfd{mSlots[i].fd, POLLIN, 0};

        for (Slot& slot : mSlots)
            sendNext(slot, result);

        unsigned char buffer[65536];
        for (;;) {
            std::int64_t now = nowNs();
            bool anyInFlight = false;
            std::int64_t nextExpiry = deadline;
            for (Slot& slot : mSlots) {
                if (!slot.inFlight)
                    continue;
                if (now - slot.sentAt >= timeout) {
                    ++result.lost;
                    slot.inFlight = false;
                    sendNext(slot, result);
                }
                if (slot.inFlight) {
                    anyInFlight = true;
                    nextExpiry = std::min(nextExpiry, slot.sentAt + timeout);
                }
            }
            if (!anyInFlight || now >= deadline)
                break;
            int waitMs = static_cast<int>((nextExpiry - now + 999999) / 1000000);
            int ready = ::poll(fds.data(), fds.size(), std::max(waitMs, 0));
            if (ready < 0 && errno != EINTR) {
                std::perror("zq-loadgen: poll");
                break;
            }
            for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i) {
                if (fds[i].revents == 0)
                    continue;
                Slot& slot = mSlots[i];
                for (;;) {
                    ssize_t n = ::recv(slot.fd, buffer, sizeof buffer, 0);
                    if (n < 0) {
                        if (errno == EAGAIN || errno == EWOULDBLOCK)
                            break;
                        if (errno == EINTR)
                            continue;
                        ++result.errors;  // e.g. nothing listening (ECONNREFUSED)
                        break;
                    }
                    std::int64_t arrived = nowNs();
                    int verdict = slot.inFlight ? check(slot, buffer, static_cast<std::size_t>(n)) : 0;
                    if (verdict == 0) {
                        ++result.stale;
                        continue;
                    }
                    if (verdict > 0) {
                        ++result.good;
                        result.latencies.push_back(arrived - slot.sentAt);
                    } else {
                        ++result.bad;
                    }
                    slot.inFlight = false;
                    if (arrived < deadline)
                        sendNext(slot, result);
                }
            }
        }
        result.elapsedNs = nowNs() - start;
        return result;
    }

private:
    void sendNext(Slot& slot, Result& result)
    {
        if (result.sent >= mOptions.count)
            return;
        slot.id = mNextId++;
        switch (mOptions.kind) {
        case Kind::Status:
            slot.request = "STATUS_REQUEST ";
            break;
        case Kind::Echo: {
            char text[64];
            int n = std::snprintf(text, sizeof text, "ECHO %u", static_cast<unsigned>(slot.id));
            slot.request.assign(text, static_cast<std::size_t>(n));
            break;
        }
        case Kind::Snmp:
            slot.request = snmpGet(mOptions.community, mOid, static_cast<std::int32_t>(slot.id));
            break;
        }
        slot.sentAt = nowNs();
        ++result.sent;
        ssize_t n = ::send(slot.fd, slot.request.data(), slot.request.size(), 0);
        if (n < 0)
            ++result.errors;  // counted as lost when its time runs out
        slot.inFlight = true;
    }

    int check(const Slot& slot, const unsigned char* data, std::size_t size) const
    {
        switch (mOptions.kind) {
        case Kind::Status: {
            static const char open[] = "<status>";
            static const char close[] = "</status>";
            bool good = size >= sizeof open - 1 + sizeof close - 1 &&
                        std::memcmp(data, open, sizeof open - 1) == 0 &&
                        std::memcmp(data + size - (sizeof close - 1), close, sizeof close - 1) == 0;
            return good ? 1 : -1;
        }
        case Kind::Echo:
            if (size == slot.request.size() && std::memcmp(data, slot.request.data(), size) == 0)
                return 1;
            // A number that is not this request's: an earlier, timed-out one.
            return (size > 5 && std::memcmp(data, "ECHO ", 5) == 0) ? 0 : -1;
        case Kind::Snmp:
            return checkSnmpResponse(data, size, static_cast<std::int32_t>(slot.id));
        }
        return -1;
    }

    Options mOptions;
    std::string mOid;
    std::vector<Slot> mSlots;
    std::uint32_t mNextId = 1000;
};

double percentileUs(std::vector<std::int64_t>& values, double fraction)
{
    if (values.empty())
        return 0.0;
    // Nearest rank.
    std::size_t rank = static_cast<std::size_t>(fraction * static_cast<double>(values.size()) + 0.999999);
    rank = std::min(std::max<std::size_t>(rank, 1), values.size());
    std::nth_element(values.begin(), values.begin() + static_cast<long>(rank - 1), values.end());
    return static_cast<double>(values[rank - 1]) / 1000.0;
}

void printResult(const Options& options, Result& result)
{
    double seconds = static_cast<double>(result.elapsedNs) / 1e9;
    double rate = seconds > 0 ? static_cast<double>(result.good) / seconds : 0.0;
    double p50 = percentileUs(result.latencies, 0.50);
    double p99 = percentileUs(result.latencies, 0.99);
    std::printf("%s kind=%s window=%u sent=%lu good=%lu bad=%lu stale=%lu lost=%lu errors=%lu "
                "seconds=%.3f rate=%.1f p50_us=%.1f p99_us=%.1f\n",
                options.label.empty() ? "result" : options.label.c_str(), options.kindName.c_str(),
                options.window, result.sent, result.good, result.bad, result.stale, result.lost,
                result.errors, seconds, rate, p50, p99);
}

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "zq-loadgen: %s needs a value\n", name.c_str());
            return false;
        }
        std::string value = argv[++i];
        char* end = nullptr;
        if (name == "--kind") {
            options.kindName = value;
            if (value == "status")
                options.kind = Kind::Status;
            else if (value == "echo")
                options.kind = Kind::Echo;
            else if (value == "snmp")
                options.kind = Kind::Snmp;
            else
                return false;
        } else if (name == "--host") {
            options.host = value;
        } else if (name == "--port") {
            options.port = static_cast<unsigned>(std::strtoul(value.c_str(), &end, 10));
            if (*end != '\0' || options.port == 0 || options.port > 65535)
                return false;
        } else if (name == "--window") {
            options.window = static_cast<unsigned>(std::strtoul(value.c_str(), &end, 10));
            if (*end != '\0' || options.window == 0 || options.window > 1024)
                return false;
        } else if (name == "--count") {
            options.count = std::strtoul(value.c_str(), &end, 10);
            if (*end != '\0' || options.count == 0)
                return false;
        } else if (name == "--seconds") {
            options.seconds = std::strtod(value.c_str(), &end);
            if (*end != '\0' || !(options.seconds > 0) || options.seconds > 3600)
                return false;
        } else if (name == "--timeout-ms") {
            options.timeoutMs = static_cast<unsigned>(std::strtoul(value.c_str(), &end, 10));
            if (*end != '\0' || options.timeoutMs == 0)
                return false;
        } else if (name == "--community") {
            options.community = value;
        } else if (name == "--oid") {
            options.oid = value;
        } else if (name == "--label") {
            options.label = value;
        } else {
            std::fprintf(stderr, "zq-loadgen: unknown option %s\n", name.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fputs(kHelp, stderr);
        return 2;
    }
    LoadGenerator generator(options);
    if (!generator.open())
        return 2;
    Result result = generator.run();
    printResult(options, result);
    return result.good > 0 ? 0 : 1;
}
