// watchdog-peer: plays the servers' side of the watch-dog protocol, for tests
// and for trying the agent out by hand.
//
//   config  sends one configuration message to a multicast group (or any
//           IPv4 address), as an Orvane or cloud server announces itself;
//   listen  receives datagrams on a UDP port and prints each one, exactly,
//           the way a server receives the agent's documents;
//   status  sends a status request to the agent and prints the reply.
//
// It stands alone: it shares no code with the agent, so that it checks the
// agent's bytes against an independent reading of the protocol.
#include <boost/asio.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace asio = boost::asio;
using udp = asio::ip::udp;

namespace {

const char* const kOrvaneGroup = "224.0.1.224";
const char* const kCloudGroup = "224.0.2.224";
const unsigned short kConfigPort = 34543;
const unsigned short kRequestPort = 45654;
const char* const kStatusRequest = "STATUS_REQUEST ";

// Exit codes.
const int kExitOk = 0;
const int kExitNoAnswer = 1;  // time ran out before the expected datagrams came
const int kExitUsage = 2;
const int kExitNetwork = 3;

const char* const kHelp =
    "usage: watchdog-peer COMMAND [OPTIONS]\n"
    "\n"
    "Plays the servers' side of the watch-dog protocol over UDP/IPv4.\n"
    "\n"
    "watchdog-peer config --group orvane|cloud|ADDR [OPTIONS] [SERVER_ADDR...]\n"
    "  Sends one configuration message to ADDR (orvane = 224.0.1.224,\n"
    "  cloud = 224.0.2.224), port 34543. The message is\n"
    "    <beaconCfgAlarm>\\n\n"
    "    <srvIpAddr>SERVER_ADDR</srvIpAddr>\\n        (one per SERVER_ADDR, in order)\n"
    "    <srvIpPort>PORT</srvIpPort>\\n               (only with --server-port)\n"
    "    <cpuPercent>P</cpuPercent>\\n               (only with --cpu-percent)\n"
    "    <alarmSeconds>S</alarmSeconds>\\n           (only with --alarm-seconds)\n"
    "    </beaconCfgAlarm>\\n\n"
    "  The agent reads an absent element as 0: without --server-port it\n"
    "  records port 0 and sends nothing; without --cpu-percent every CPU\n"
    "  sample reaches the alarm threshold.\n"
    "    --interface IPV4    send the multicast out of the interface that has IPV4\n"
    "    --ttl N             multicast time-to-live (default: the system's, 1)\n"
    "    --port PORT         destination port (default 34543)\n"
    "    --server-port PORT  value of <srvIpPort>\n"
    "    --cpu-percent P     value of <cpuPercent> (an integer)\n"
    "    --alarm-seconds S   value of <alarmSeconds> (an integer)\n"
    "    --raw TEXT          send TEXT, byte for byte, instead of a built message\n"
    "    --raw-file PATH     send the bytes of the file PATH instead\n"
    "  Prints \"SENT TO ADDR:PORT N bytes\", the N bytes, a line feed and \"END\".\n"
    "\n"
    "watchdog-peer listen --port PORT [OPTIONS]\n"
    "  Receives datagrams on PORT. Prints \"LISTENING ADDR:PORT\" once bound, then\n"
    "  for each datagram a header line \"FROM ADDR:PORT N bytes\" (plus the fields\n"
    "  below when asked for), the N bytes exactly, a line feed and a line \"END\";\n"
    "  standard output is flushed after each datagram.\n"
    "    --bind ADDR         local address to bind (default 0.0.0.0)\n"
    "    --join GROUP        join a multicast group (repeatable)\n"
    "    --reuse             allow other sockets on the same port\n"
    "    --count N           stop after N datagrams\n"
    "    --seconds T         stop after T seconds (default 60, at most 3600)\n"
    "    --stamp             add \" AT SECONDS.MILLIS\" (Unix time of arrival)\n"
    "    --save DIR          also write datagram k to DIR/k.dat (k = 1, 2, ...)\n"
    "                        and add \" FILE DIR/k.dat\" to its header\n"
    "  Exits 0 when N datagrams came (or, without --count, when the time is up),\n"
    "  1 when the time ran out before N datagrams came.\n"
    "\n"
    "watchdog-peer status AGENT_ADDR [OPTIONS]\n"
    "  Sends \"STATUS_REQUEST \" to AGENT_ADDR port 45654 and writes the first reply\n"
    "  to standard output, byte for byte and nothing else; \"FROM ADDR:PORT N bytes\"\n"
    "  goes to standard error. Exits 0 on a reply, 1 when none came in time.\n"
    "    --port PORT         the agent's request port (default 45654)\n"
    "    --timeout-ms MS     how long to wait for the reply (default 2000)\n"
    "    --bind ADDR         local address to send from (default: any)\n"
    "    --source-port PORT  local port to send from (default: any free one)\n"
    "    --text TEXT         send TEXT instead of \"STATUS_REQUEST \"\n"
    "\n"
    "Exit codes: 0 done, 1 no (or too few) datagrams in time, 2 bad usage,\n"
    "3 network error.\n";

class UsageError : public std::exception {
public:
    explicit UsageError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Writes bytes to standard output as they are, without any conversion.
void writeOut(const std::string& bytes)
{
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void writeErr(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

std::string endpointText(const udp::endpoint& endpoint)
{
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

long long parseInteger(const std::string& option, const std::string& text, long long low, long long high)
{
    if (text.empty())
        throw UsageError(option + " needs a number");
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used, 10);
    } catch (const std::exception&) {
        throw UsageError(option + ": not a number: " + text);
    }
    if (used != text.size())
        throw UsageError(option + ": not a number: " + text);
    if (value < low || value > high)
        throw UsageError(option + ": " + text + " is out of range " + std::to_string(low) + ".." +
                         std::to_string(high));
    return value;
}

unsigned short parsePort(const std::string& option, const std::string& text)
{
    return static_cast<unsigned short>(parseInteger(option, text, 1, 65535));
}

asio::ip::address_v4 parseIpv4(const std::string& option, const std::string& text)
{
    boost::system::error_code error;
    asio::ip::address_v4 address = asio::ip::address_v4::from_string(text, error);
    if (error)
        throw UsageError(option + ": not an IPv4 address: " + text);
    return address;
}

// The command line after the command word: options (--name VALUE,
// --name=VALUE or a bare flag) and positional arguments, in any order.
class Arguments {
public:
    Arguments(int argc, char** argv, int first, std::vector<std::string> flags,
              std::vector<std::string> valued)
    {
        flags.push_back("--help");
        for (int i = first; i < argc; ++i) {
            std::string word = argv[i];
            if (word == "--") {
                for (++i; i < argc; ++i)
                    positional_.push_back(argv[i]);
                break;
            }
            if (word.size() < 3 || word.compare(0, 2, "--") != 0) {
                positional_.push_back(word);
                continue;
            }
            std::string name = word;
            std::string value;
            bool hasValue = false;
            std::size_t equals = word.find('=');
            if (equals != std::string::npos) {
                name = word.substr(0, equals);
                value = word.substr(equals + 1);
                hasValue = true;
            }
            if (contains(flags, name)) {
                if (hasValue)
                    throw UsageError(name + " takes no value");
                options_.emplace_back(name, std::string());
            } else if (contains(valued, name)) {
                if (!hasValue) {
                    if (i + 1 >= argc)
                        throw UsageError(name + " needs a value");
                    value = argv[++i];
                }
                options_.emplace_back(name, value);
            } else {
                throw UsageError("unknown option " + name);
            }
        }
    }

    bool has(const std::string& name) const
    {
        for (const auto& option : options_)
            if (option.first == name)
                return true;
        return false;
    }

    // The last value given for an option, or the fallback.
    std::string get(const std::string& name, const std::string& fallback = std::string()) const
    {
        std::string result = fallback;
        for (const auto& option : options_)
            if (option.first == name)
                result = option.second;
        return result;
    }

    std::vector<std::string> all(const std::string& name) const
    {
        std::vector<std::string> result;
        for (const auto& option : options_)
            if (option.first == name)
                result.push_back(option.second);
        return result;
    }

    const std::vector<std::string>& positional() const { return positional_; }

private:
    static bool contains(const std::vector<std::string>& list, const std::string& word)
    {
        for (const auto& item : list)
            if (item == word)
                return true;
        return false;
    }

    std::vector<std::pair<std::string, std::string>> options_;
    std::vector<std::string> positional_;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw UsageError("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------- config

int runConfig(int argc, char** argv)
{
    Arguments args(argc, argv, 2, {}, {"--group", "--interface", "--ttl", "--port", "--cpu-percent",
                                       "--alarm-seconds", "--server-port", "--raw", "--raw-file"});
    if (args.has("--help")) {
        writeOut(kHelp);
        return kExitOk;
    }
    if (!args.has("--group"))
        throw UsageError("config needs --group orvane|cloud|ADDR");
    std::string group = args.get("--group");
    if (group == "orvane")
        group = kOrvaneGroup;
    else if (group == "cloud")
        group = kCloudGroup;
    asio::ip::address_v4 destination = parseIpv4("--group", group);
    unsigned short port = args.has("--port") ? parsePort("--port", args.get("--port")) : kConfigPort;

    std::string message;
    if (args.has("--raw") && args.has("--raw-file"))
        throw UsageError("--raw and --raw-file exclude each other");
    if (args.has("--raw") || args.has("--raw-file")) {
        if (!args.positional().empty() || args.has("--server-port") || args.has("--cpu-percent") ||
            args.has("--alarm-seconds"))
            throw UsageError("--raw and --raw-file take no server addresses or element options");
        message = args.has("--raw") ? args.get("--raw") : readFile(args.get("--raw-file"));
    } else {
        message = "<beaconCfgAlarm>\n";
        for (const std::string& server : args.positional()) {
            parseIpv4("server address", server);
            message += "<srvIpAddr>" + server + "</srvIpAddr>\n";
        }
        if (args.has("--server-port"))
            message += "<srvIpPort>" +
                       std::to_string(parseInteger("--server-port", args.get("--server-port"), 0, 65535)) +
                       "</srvIpPort>\n";
        if (args.has("--cpu-percent"))
            message += "<cpuPercent>" +
                       std::to_string(parseInteger("--cpu-percent", args.get("--cpu-percent"), -2147483648LL,
                                                   2147483647LL)) +
                       "</cpuPercent>\n";
        if (args.has("--alarm-seconds"))
            message += "<alarmSeconds>" +
                       std::to_string(parseInteger("--alarm-seconds", args.get("--alarm-seconds"),
                                                   -2147483648LL, 2147483647LL)) +
                       "</alarmSeconds>\n";
        message += "</beaconCfgAlarm>\n";
    }

    asio::io_service io;
    udp::socket socket(io, udp::v4());
    if (destination.is_multicast()) {
        if (args.has("--interface"))
            socket.set_option(asio::ip::multicast::outbound_interface(
                parseIpv4("--interface", args.get("--interface"))));
        if (args.has("--ttl"))
            socket.set_option(
                asio::ip::multicast::hops(static_cast<int>(parseInteger("--ttl", args.get("--ttl"), 0, 255))));
    } else if (args.has("--interface")) {
        // A unicast destination: leave by the given local address instead.
        socket.bind(udp::endpoint(parseIpv4("--interface", args.get("--interface")), 0));
    }
    udp::endpoint target(destination, port);
    std::size_t sent = socket.send_to(asio::buffer(message), target);

    writeOut("SENT TO " + endpointText(target) + " " + std::to_string(sent) + " bytes\n");
    writeOut(message);
    writeOut("\nEND\n");
    std::fflush(stdout);
    return kExitOk;
}

// ---------------------------------------------------------------- listen

class Listener {
public:
    Listener(asio::io_service& io, udp::socket& socket, long long count, bool stamp, std::string saveDir)
        : io_(io), socket_(socket), timer_(io), count_(count), stamp_(stamp), saveDir_(std::move(saveDir)),
          buffer_(65536)
    {
    }

    // Receives until the count is reached or the time is up; true when the
    // count was reached (or no count was set).
    bool run(long long seconds)
    {
        timer_.expires_from_now(boost::posix_time::seconds(static_cast<long>(seconds)));
        timer_.async_wait([this](const boost::system::error_code& error) {
            if (!error) {
                timedOut_ = true;
                boost::system::error_code ignored;
                socket_.close(ignored);
            }
        });
        receive();
        io_.run();
        return count_ <= 0 || received_ >= count_;
    }

private:
    void receive()
    {
        socket_.async_receive_from(asio::buffer(buffer_), from_,
                                   [this](const boost::system::error_code& error, std::size_t n) {
                                       onReceive(error, n);
                                   });
    }

    void onReceive(const boost::system::error_code& error, std::size_t n)
    {
        if (timedOut_ || error == asio::error::operation_aborted)
            return;
        if (error) {
            // A transient error (such as an ICMP report on Windows): go on,
            // the timer still bounds the whole run.
            writeErr("watchdog-peer listen: receive error: " + error.message() + "\n");
            receive();
            return;
        }
        ++received_;
        std::string bytes(buffer_.data(), n);
        std::string header = "FROM " + endpointText(from_) + " " + std::to_string(n) + " bytes";
        if (stamp_) {
            long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
            char fraction[8];
            std::snprintf(fraction, sizeof fraction, "%03lld", ms % 1000);
            header += " AT " + std::to_string(ms / 1000) + "." + fraction;
        }
        if (!saveDir_.empty()) {
            std::string path = saveDir_ + "/" + std::to_string(received_) + ".dat";
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            out.close();
            if (!out)
                writeErr("watchdog-peer listen: cannot write " + path + "\n");
            header += " FILE " + path;
        }
        writeOut(header + "\n");
        writeOut(bytes);
        writeOut("\nEND\n");
        std::fflush(stdout);
        if (count_ > 0 && received_ >= count_) {
            timer_.cancel();
            return;
        }
        receive();
    }

    asio::io_service& io_;
    udp::socket& socket_;
    asio::deadline_timer timer_;
    long long count_;
    bool stamp_;
    std::string saveDir_;
    std::vector<char> buffer_;
    udp::endpoint from_;
    long long received_ = 0;
    bool timedOut_ = false;
};

int runListen(int argc, char** argv)
{
    Arguments args(argc, argv, 2, {"--reuse", "--stamp"},
                   {"--bind", "--port", "--count", "--seconds", "--join", "--save"});
    if (args.has("--help")) {
        writeOut(kHelp);
        return kExitOk;
    }
    if (!args.positional().empty())
        throw UsageError("listen takes no positional arguments");
    if (!args.has("--port"))
        throw UsageError("listen needs --port PORT");
    unsigned short port = parsePort("--port", args.get("--port"));
    asio::ip::address_v4 bindAddress =
        args.has("--bind") ? parseIpv4("--bind", args.get("--bind")) : asio::ip::address_v4::any();
    long long count = args.has("--count") ? parseInteger("--count", args.get("--count"), 1, 1000000) : 0;
    long long seconds = args.has("--seconds") ? parseInteger("--seconds", args.get("--seconds"), 1, 3600) : 60;
    std::vector<asio::ip::address_v4> groups;
    for (const std::string& group : args.all("--join")) {
        asio::ip::address_v4 address = parseIpv4("--join", group);
        if (!address.is_multicast())
            throw UsageError("--join: not a multicast group: " + group);
        groups.push_back(address);
    }

    asio::io_service io;
    udp::socket socket(io, udp::v4());
    if (args.has("--reuse"))
        socket.set_option(udp::socket::reuse_address(true));
    socket.bind(udp::endpoint(bindAddress, port));
    for (const auto& group : groups)
        socket.set_option(asio::ip::multicast::join_group(group));

    writeOut("LISTENING " + endpointText(socket.local_endpoint()) + "\n");
    std::fflush(stdout);

    Listener listener(io, socket, count, args.has("--stamp"), args.get("--save"));
    return listener.run(seconds) ? kExitOk : kExitNoAnswer;
}

// ---------------------------------------------------------------- status

int runStatus(int argc, char** argv)
{
    Arguments args(argc, argv, 2, {}, {"--port", "--timeout-ms", "--bind", "--source-port", "--text"});
    if (args.has("--help")) {
        writeOut(kHelp);
        return kExitOk;
    }
    if (args.positional().size() != 1)
        throw UsageError("status needs exactly one AGENT_ADDR");
    asio::ip::address_v4 agent = parseIpv4("AGENT_ADDR", args.positional()[0]);
    unsigned short port = args.has("--port") ? parsePort("--port", args.get("--port")) : kRequestPort;
    long long timeoutMs =
        args.has("--timeout-ms") ? parseInteger("--timeout-ms", args.get("--timeout-ms"), 1, 600000) : 2000;
    asio::ip::address_v4 bindAddress =
        args.has("--bind") ? parseIpv4("--bind", args.get("--bind")) : asio::ip::address_v4::any();
    unsigned short sourcePort =
        args.has("--source-port") ? parsePort("--source-port", args.get("--source-port")) : 0;
    std::string request = args.has("--text") ? args.get("--text") : std::string(kStatusRequest);

    asio::io_service io;
    udp::socket socket(io, udp::v4());
    socket.bind(udp::endpoint(bindAddress, sourcePort));
    socket.send_to(asio::buffer(request), udp::endpoint(agent, port));

    std::vector<char> buffer(65536);
    udp::endpoint from;
    bool answered = false;
    bool timedOut = false;
    std::string reply;
    asio::deadline_timer timer(io);
    timer.expires_from_now(boost::posix_time::milliseconds(static_cast<long>(timeoutMs)));
    timer.async_wait([&](const boost::system::error_code& error) {
        if (!error) {
            timedOut = true;
            boost::system::error_code ignored;
            socket.close(ignored);
        }
    });
    std::function<void()> receive;
    receive = [&]() {
        socket.async_receive_from(asio::buffer(buffer), from, [&](const boost::system::error_code& error,
                                                                   std::size_t n) {
            if (timedOut || error == asio::error::operation_aborted)
                return;
            if (error) {
                // An ICMP port-unreachable report surfaces here on some
                // platforms; the agent may still answer, so keep waiting.
                receive();
                return;
            }
            answered = true;
            reply.assign(buffer.data(), n);
            timer.cancel();
        });
    };
    receive();
    io.run();

    if (!answered) {
        writeErr("watchdog-peer status: no reply from " + endpointText(udp::endpoint(agent, port)) + " within " +
                 std::to_string(timeoutMs) + " ms\n");
        return kExitNoAnswer;
    }
    writeErr("FROM " + endpointText(from) + " " + std::to_string(reply.size()) + " bytes\n");
    writeOut(reply);
    std::fflush(stdout);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // The datagrams are written byte for byte: no line-end translation.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (argc < 2) {
        writeErr(kHelp);
        return kExitUsage;
    }
    std::string command = argv[1];
    try {
        if (command == "--help" || command == "-h" || command == "help") {
            writeOut(kHelp);
            return kExitOk;
        }
        if (command == "config")
            return runConfig(argc, argv);
        if (command == "listen")
            return runListen(argc, argv);
        if (command == "status")
            return runStatus(argc, argv);
        throw UsageError("unknown command " + command);
    } catch (const UsageError& error) {
        writeErr(std::string("watchdog-peer: ") + error.what() + "\n(watchdog-peer --help shows the usage)\n");
        return kExitUsage;
    } catch (const boost::system::system_error& error) {
        writeErr(std::string("watchdog-peer ") + command + ": " + error.what() + "\n");
        return kExitNetwork;
    } catch (const std::exception& error) {
        writeErr(std::string("watchdog-peer ") + command + ": " + error.what() + "\n");
        return kExitNetwork;
    }
}
