// The two configuration receivers, on real multicast over loopback. The test
// program runs in a network namespace of its own (see the Linux test main),
// where loopback is the only interface and carries 224.0.0.0/4; every test
// checks that before it joins a group or sends to one.
#include <gtest/gtest.h>


#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/udp.hpp>

#include "fakes/fake_tick_clock.h"
#include "fakes/idle_server.h"
#include "fakes/plant_host.h"
#include "net/multicast_receiver.h"
#include "support/only_loopback.h"
#include "support/run_until.h"

namespace {

using boost::asio::ip::udp;

const char kOrvaneGroup[] = "224.0.1.224";
const char kCloudGroup[] = "224.0.2.224";
constexpr unsigned short kPort = 34543;

const std::string kOrvaneReceived = "MulticastReceiver::handle_receive_from\n";
const std::string kCloudReceived = "MulticastReceiverCloud::handle_receive_from\n";


// The datagrams each receiver took, in order, as its trace shows them: its
// per-datagram line, then the text's line.
struct Taken {
    std::vector<std::string> orvane;
    std::vector<std::string> cloud;
};

Taken taken()
{
    Taken result;
    std::vector<std::string>* receiver = nullptr;
    for (const std::string& text : recording::traceTexts()) {
        if (text == kOrvaneReceived) {
            receiver = &result.orvane;
        } else if (text == kCloudReceived) {
            receiver = &result.cloud;
        } else if (receiver != nullptr && text.rfind("MulticastRX=[", 0) == 0) {
            receiver->push_back(text.substr(13, text.size() - 15));
            receiver = nullptr;
        }
    }
    return result;
}

// The trace texts from the index-th per-datagram line (either receiver's) up
// to, not including, the next one.
std::vector<std::string> traceOfDatagram(std::size_t index)
{
    std::vector<std::string> slice;
    std::size_t seen = 0;
    for (const std::string& text : recording::traceTexts()) {
        if (text == kOrvaneReceived || text == kCloudReceived)
            ++seen;
        if (seen == index + 1)
            slice.push_back(text);
        else if (seen > index + 1)
            break;
    }
    return slice;
}

const std::string kOrvaneConfig =
    "beaconCfgAlarm<srvIpAddr>192.168.1.20</srvIpAddr><srvIpPort>40001</srvIpPort>"
    "<cpuPercent>90</cpuPercent><alarmSeconds>30</alarmSeconds>";

class Receivers : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(onlyLoopback()) << "multicast tests run only in a private network namespace";
        planthost::use({"192.168.1.5"});
        server = std::make_unique<IdleServer>();
        planthost::scriptCpu();

        sender.open(udp::v4());
        sender.set_option(boost::asio::ip::multicast::outbound_interface(boost::asio::ip::address_v4::loopback()));
        sender.set_option(boost::asio::ip::multicast::enable_loopback(true));
        sender.bind(udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        gEventLog.take();
        recording::clearTrace();
    }

    void send(const char* group, const std::string& bytes)
    {
        sender.send_to(boost::asio::buffer(bytes), udp::endpoint(boost::asio::ip::make_address(group), kPort));
    }

    // Runs until the receivers together have taken count datagrams.
    bool runUntilTaken(std::size_t orvane, std::size_t cloud)
    {
        return runUntil(io, [&] {
            Taken now = taken();
            return now.orvane.size() >= orvane && now.cloud.size() >= cloud;
        });
    }

    boost::asio::io_service io;
    udp::socket sender{io};
    std::unique_ptr<IdleServer> server;
};

}  // namespace

TEST_F(Receivers, AnOrvaneConfigurationReachesTheServerWhole)
{
    MulticastReceiver receiver(io, kOrvaneGroup);
    EXPECT_EQ(recording::traceTexts(), std::vector<std::string>{"MulticastReceiver::MulticastReceiver\n"});
    EXPECT_EQ(gEventLog.take(), "");

    recording::takeDiagnostics();
    send(kOrvaneGroup, "beaconCfgAlarm");
    ASSERT_TRUE(runUntilTaken(1, 0));
    const std::string out = recording::takeDiagnostics();

    std::vector<std::string> texts = traceOfDatagram(0);
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(texts[0], kOrvaneReceived);
    EXPECT_EQ(texts[1], "MulticastRX=[beaconCfgAlarm]\n");
    EXPECT_EQ(texts[2], "MulticastReceiver::parseMcZqMessage\n");
    EXPECT_EQ(texts[3], "==>  ZqServer::setCrossOver\n");
    EXPECT_EQ(out.rfind("beaconCfgAlarm\n", 0), 0u) << out;
    EXPECT_EQ(gEventLog.take(), "\r MulticastRX= beaconCfgAlarm\r");
    EXPECT_EQ(fakecpu::calls().collect, 1);

    // The 14-character text, with no elements, configures a 0% / 0 s alarm.
    EXPECT_TRUE(server->mConfigured);
    EXPECT_EQ(server->mTriggerText.get(), "0%:0s");
    EXPECT_EQ(server->mNumPairs, 0);
    EXPECT_EQ(server->mCloudServer.get(), "");

    send(kOrvaneGroup, kOrvaneConfig);
    ASSERT_TRUE(runUntilTaken(2, 0));
    EXPECT_EQ(server->mNumPairs, 1);
    EXPECT_EQ(server->mRemoteEndpoints[0],
              udp::endpoint(boost::asio::ip::make_address("192.168.1.20"), 40001));
    EXPECT_EQ(server->mTriggerText.get(), "90%:30s");
}

TEST_F(Receivers, OnlyDatagramsLongerThanTenBytesAreInterpreted)
{
    MulticastReceiver receiver(io, kOrvaneGroup);
    recording::clearTrace();

    recording::takeDiagnostics();
    send(kOrvaneGroup, "0123456789");
    send(kOrvaneGroup, "0123456789A");
    ASSERT_TRUE(runUntilTaken(2, 0));
    const std::string out = recording::takeDiagnostics();

    EXPECT_EQ(taken().orvane, (std::vector<std::string>{"0123456789", "0123456789A"}));
    EXPECT_EQ(traceOfDatagram(0), (std::vector<std::string>{kOrvaneReceived, "MulticastRX=[0123456789]\n"}));
    EXPECT_EQ(traceOfDatagram(1), (std::vector<std::string>{kOrvaneReceived, "MulticastRX=[0123456789A]\n",
                                                            "MulticastReceiver::parseMcZqMessage\n"}));
    EXPECT_NE(out.find("0123456789\n"), std::string::npos) << out;
    EXPECT_NE(out.find("0123456789A\n"), std::string::npos) << out;
    EXPECT_EQ(gEventLog.take(), "\r MulticastRX= 0123456789\r\r MulticastRX= 0123456789A\r");
    EXPECT_EQ(fakecpu::calls().collect, 2);
    EXPECT_FALSE(server->mConfigured);
}

TEST_F(Receivers, TheKeywordCountsAnywhereButOnlyInItsOwnCase)
{
    MulticastReceiver receiver(io, kOrvaneGroup);

    send(kOrvaneGroup, "BEACONCFGALARM beaconcfgalarm BeaconCfgAlarm");
    ASSERT_TRUE(runUntilTaken(1, 0));
    EXPECT_FALSE(server->mConfigured);

    send(kOrvaneGroup, "xxbeaconCfgAlarmyy<cpuPercent>70</cpuPercent>");
    ASSERT_TRUE(runUntilTaken(2, 0));
    EXPECT_TRUE(server->mConfigured);
    EXPECT_EQ(server->mAlarmPercent, 70);
}

TEST_F(Receivers, TheCloudReceiverTakesOnlyTheServerAddress)
{
    MulticastReceiverCloud receiver(io, kCloudGroup);
    EXPECT_EQ(recording::traceTexts(),
              std::vector<std::string>{"MulticastReceiverCloud::MulticastReceiverCloud\n"});

    send(kCloudGroup, "beaconCfgAlarm<srvIpAddr>10.1.2.3</srvIpAddr>");
    ASSERT_TRUE(runUntilTaken(0, 1));
    EXPECT_EQ(server->mCloudServer.get(), "10.1.2.3");
    EXPECT_EQ(traceOfDatagram(0),
              (std::vector<std::string>{kCloudReceived,
                                        "MulticastRX=[beaconCfgAlarm<srvIpAddr>10.1.2.3</srvIpAddr>]\n",
                                        "MulticastReceiverCloud::parseMcZqMessage\n"}));

    // The element without the keyword changes nothing.
    send(kCloudGroup, "<srvIpAddr>10.9.9.9</srvIpAddr>");
    ASSERT_TRUE(runUntilTaken(0, 2));
    EXPECT_EQ(server->mCloudServer.get(), "10.1.2.3");

    // The keyword without the element: the cloud server becomes unknown.
    send(kCloudGroup, "beaconCfgAlarm only");
    ASSERT_TRUE(runUntilTaken(0, 3));
    EXPECT_EQ(server->mCloudServer.get(), "");

    EXPECT_EQ(gEventLog.take(),
              "\r MulticastRX= beaconCfgAlarm<srvIpAddr>10.1.2.3</srvIpAddr>\r"
              "\r MulticastRX= <srvIpAddr>10.9.9.9</srvIpAddr>\r"
              "\r MulticastRX= beaconCfgAlarm only\r");
    EXPECT_EQ(fakecpu::calls().collect, 3);
    // The cloud receiver never configures the Orvane side.
    EXPECT_FALSE(server->mConfigured);
    EXPECT_EQ(server->mNumPairs, 0);
}

TEST_F(Receivers, EachReceiverTakesOnlyItsOwnGroup)
{
    MulticastReceiver orvane(io, kOrvaneGroup);
    MulticastReceiverCloud cloud(io, kCloudGroup);

    const std::string cloudConfig = "beaconCfgAlarm<srvIpAddr>192.168.1.30</srvIpAddr><srvIpPort>40002</srvIpPort>";
    send(kCloudGroup, cloudConfig);
    send(kOrvaneGroup, kOrvaneConfig);
    // Each group's last datagram shows that everything before it arrived.
    send(kCloudGroup, "end of cloud");
    send(kOrvaneGroup, "end of orvane");
    ASSERT_TRUE(runUntil(io, [] {
        Taken now = taken();
        return !now.orvane.empty() && now.orvane.back() == "end of orvane" && !now.cloud.empty() &&
               now.cloud.back() == "end of cloud";
    }));

    Taken result = taken();
    EXPECT_EQ(result.orvane, (std::vector<std::string>{kOrvaneConfig, "end of orvane"}));
    EXPECT_EQ(result.cloud, (std::vector<std::string>{cloudConfig, "end of cloud"}));
    EXPECT_EQ(server->mCloudServer.get(), "192.168.1.30");
    EXPECT_EQ(server->mNumPairs, 1);
    EXPECT_EQ(server->mRemoteEndpoints[0],
              udp::endpoint(boost::asio::ip::make_address("192.168.1.20"), 40001));
}

TEST_F(Receivers, AZeroByteEndsTheLoggedTextButNotTheConfiguration)
{
    MulticastReceiver receiver(io, kOrvaneGroup);
    const std::string bytes = std::string("beaconCfgAlarm") + '\0' + kOrvaneConfig.substr(14);

    recording::takeDiagnostics();
    send(kOrvaneGroup, bytes);
    ASSERT_TRUE(runUntilTaken(1, 0));
    const std::string out = recording::takeDiagnostics();

    EXPECT_EQ(taken().orvane, std::vector<std::string>{"beaconCfgAlarm"});
    EXPECT_EQ(gEventLog.take(), "\r MulticastRX= beaconCfgAlarm\r");
    // The echo and the configuration get all the bytes.
    EXPECT_EQ(out.rfind(bytes + "\n", 0), 0u);
    EXPECT_EQ(server->mNumPairs, 1);
    EXPECT_EQ(server->mRemotePort, 40001);
    EXPECT_EQ(server->mTriggerText.get(), "90%:30s");
}

TEST_F(Receivers, AFailedReceiveIsNeitherTracedNorLogged)
{
    MulticastReceiver orvane(io, kOrvaneGroup);
    MulticastReceiverCloud cloud(io, kCloudGroup);
    recording::clearTrace();

    orvane.handle_receive_from(boost::asio::error::operation_aborted, 14);
    cloud.handle_receive_from(boost::asio::error::connection_refused, 14);

    EXPECT_EQ(recording::traceTexts(), std::vector<std::string>{});
    EXPECT_EQ(gEventLog.take(), "");
    EXPECT_EQ(fakecpu::calls().collect, 0);
}

// The descriptors of this process's UDP sockets bound to port.
std::vector<int> udpSocketsOnPort(unsigned short port)
{
    std::vector<int> found;
    for (int fd = 3; fd < 1024; ++fd) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int type = 0;
        socklen_t typeLength = sizeof type;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
            ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) == 0 && type == SOCK_DGRAM)
            found.push_back(fd);
    }
    return found;
}

TEST_F(Receivers, AReceiveErrorCostsOnlyThatReceive)
{
    // The server's own receivers hold the port too: the receiver's socket is
    // the one that its construction adds.
    std::vector<int> others = udpSocketsOnPort(kPort);
    MulticastReceiver receiver(io, kOrvaneGroup);
    std::vector<int> mine;
    for (int fd : udpSocketsOnPort(kPort)) {
        if (std::find(others.begin(), others.end(), fd) == others.end())
            mine.push_back(fd);
    }
    ASSERT_EQ(mine.size(), 1u);
    int fd = mine[0];
    // The platform's own receive error: with IP_RECVERR, an ICMP
    // port-unreachable for a datagram that the receiver's socket sent ends
    // its pending receive with "connection refused", as Windows does without
    // being asked.
    int on = 1;
    ASSERT_EQ(::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on), 0);
    sockaddr_in nobody{};
    nobody.sin_family = AF_INET;
    nobody.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    {
        udp::socket unused(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        nobody.sin_port = htons(unused.local_endpoint().port());
    }

    for (std::size_t round = 1; round <= 3; ++round) {
        ASSERT_EQ(::sendto(fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&nobody), sizeof nobody), 1);
        // Let the failed receive complete before the next datagram comes.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        while (std::chrono::steady_clock::now() < until)
            io.run_one_for(std::chrono::milliseconds(10));
        int pending = -1;
        socklen_t length = sizeof pending;
        ASSERT_EQ(::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length), 0);
        EXPECT_EQ(pending, 0) << "the error was taken by the receive";

        send(kOrvaneGroup, "after error " + std::to_string(round));
        ASSERT_TRUE(runUntilTaken(round, 0)) << "round " << round;
    }
    EXPECT_EQ(taken().orvane.back(), "after error 3");
    EXPECT_EQ(gEventLog.take().find("ZqServer="), std::string::npos);
}

TEST_F(Receivers, TheEchoEscapesControlBytesOnATerminalOnly)
{
    MulticastReceiver receiver(io, kOrvaneGroup);
    const std::string bytes = "cfg\x1b]0;owned\x07\x1b[2J\r\nend";

    // Not a terminal: the bytes as they came, then the sampler's line.
    recording::takeDiagnostics();
    send(kOrvaneGroup, bytes);
    ASSERT_TRUE(runUntilTaken(1, 0));
    EXPECT_EQ(recording::takeDiagnostics().rfind(bytes + "\n\n", 0), 0u);

    // Standard error on a terminal: escaped.
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    int saved = ::dup(STDERR_FILENO);
    ASSERT_GE(::dup2(slave, STDERR_FILENO), 0);
    send(kOrvaneGroup, bytes);
    bool taken2 = runUntilTaken(2, 0);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(slave);
    ::close(master);
    ASSERT_TRUE(taken2);
    EXPECT_EQ(recording::takeDiagnostics().rfind("cfg\\x1b]0;owned\\x07\\x1b[2J\\r\\nend\n\n", 0), 0u);
}

TEST(ReceiverSetUp, APortHeldWithoutReuseDisablesBothReceivers)
{
    ASSERT_TRUE(onlyLoopback()) << "multicast tests run only in a private network namespace";
    boost::asio::io_service io;
    // Another program holds the port and does not allow it to be shared.
    udp::socket holder(io, udp::endpoint(udp::v4(), kPort));
    holder.set_option(boost::asio::ip::multicast::join_group(boost::asio::ip::make_address(kOrvaneGroup)));
    gEventLog.take();
    recording::clearTrace();

    std::unique_ptr<MulticastReceiver> orvane;
    std::unique_ptr<MulticastReceiverCloud> cloud;
    EXPECT_NO_THROW(orvane = std::make_unique<MulticastReceiver>(io, kOrvaneGroup));
    EXPECT_NO_THROW(cloud = std::make_unique<MulticastReceiverCloud>(io, kCloudGroup));

    EXPECT_EQ(gEventLog.take(),
              "\r ZqServer= *** EXCEPTION  MulticastReceiver::MulticastReceiver\n\r"
              "\r ZqServer= *** EXCEPTION  MulticastReceiverCloud::MulticastReceiverCloud\n\r");
    EXPECT_EQ(recording::traceTexts(),
              (std::vector<std::string>{
                  "MulticastReceiver::MulticastReceiver\n",
                  "*** EXCEPTION  MulticastReceiver::MulticastReceiver\n",
                  "MulticastReceiverCloud::MulticastReceiverCloud\n",
                  "*** EXCEPTION  MulticastReceiverCloud::MulticastReceiverCloud\n",
              }));

    // A configuration reaches the holder, but the disabled receivers have no
    // receive pending and take nothing.
    udp::socket sender(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
    sender.set_option(boost::asio::ip::multicast::outbound_interface(boost::asio::ip::address_v4::loopback()));
    sender.send_to(boost::asio::buffer(std::string("beaconCfgAlarm")),
                   udp::endpoint(boost::asio::ip::make_address(kOrvaneGroup), kPort));
    char buffer[64];
    udp::endpoint from;
    std::size_t received = 0;
    boost::system::error_code result;
    EXPECT_TRUE(receiveOne(io, holder, boost::asio::buffer(buffer), from, received, result));
    EXPECT_EQ(std::string(buffer, received), "beaconCfgAlarm");
    EXPECT_EQ(io.poll(), 0u);
    EXPECT_EQ(taken().orvane.size() + taken().cloud.size(), 0u);
    EXPECT_EQ(gEventLog.take(), "");
}

TEST(ReceiverJoins, AnInterfaceThatComesUpLaterHearsTheGroupAfterRejoin)
{
    ASSERT_TRUE(onlyLoopback()) << "multicast tests run only in a private network namespace";
    fakehost::set(fakehost::Host{});
    boost::asio::io_service io;
    // Built while loopback is the only interface: it joins there only.
    MulticastReceiver receiver(io, kOrvaneGroup);

    // A second interface comes up; the system's choice for multicast stays
    // loopback.
    ASSERT_EQ(std::system("ip link add zq-d0 type veth peer name zq-d1 && ip addr add 10.9.0.1/24 dev zq-d0 && "
                          "ip link set zq-d1 up && ip link set zq-d0 up"),
              0);
    fakehost::Host host;
    host.interfaces = {"10.9.0.1"};
    fakehost::set(host);
    recording::clearTrace();
    receiver.rejoin();
    EXPECT_EQ(recording::traceCount("GroupMembership::join [224.0.1.224] on [10.9.0.1]\n"), 1u);
    receiver.rejoin();  // joined already: nothing more
    EXPECT_EQ(recording::traceCount("GroupMembership::join [224.0.1.224] on [10.9.0.1]\n"), 1u);

    // A datagram to the group out of the new interface comes back to the
    // members on that interface only.
    udp::socket sender(io, udp::endpoint(boost::asio::ip::make_address_v4("10.9.0.1"), 0));
    sender.set_option(boost::asio::ip::multicast::outbound_interface(boost::asio::ip::make_address_v4("10.9.0.1")));
    sender.set_option(boost::asio::ip::multicast::enable_loopback(true));
    sender.send_to(boost::asio::buffer(std::string("heard on zq-d0")),
                   udp::endpoint(boost::asio::ip::make_address(kOrvaneGroup), kPort));
    EXPECT_TRUE(runUntil(io, [&] { return !taken().orvane.empty(); }));
    EXPECT_EQ(taken().orvane, std::vector<std::string>{"heard on zq-d0"});

    EXPECT_EQ(std::system("ip link del zq-d0"), 0);
}

TEST(ReceiverJoins, AFailedJoinIsLoggedOnceAndTriedEveryThirtySecondsUntilItSucceeds)
{
    ASSERT_TRUE(onlyLoopback()) << "multicast tests run only in a private network namespace";
    fakeclock::reset();
    fakehost::Host host;
    host.interfaces = {"10.9.1.1"};  // an address that no interface holds yet
    fakehost::set(host);
    planthost::clearRecords();
    boost::asio::io_service io;
    MulticastReceiver receiver(io, kOrvaneGroup);
    const std::string tried = "GroupMembership::join [224.0.1.224] on [10.9.1.1]";
    std::string log = gEventLog.take();
    EXPECT_EQ(log.rfind("\r ZqServer= " + tried + " failed [", 0), 0u) << log;

    // Seconds the clock moves, whether the address is up by then, joins tried in all.
    const std::tuple<int, bool, std::size_t> steps[] = {{29, false, 1}, {1, false, 2}, {30, true, 3}, {90, true, 3}};
    bool up = false;
    for (auto [seconds, addressUp, tries] : steps) {
        if (addressUp && !std::exchange(up, true)) {
            ASSERT_EQ(std::system("ip link add zq-j0 type veth peer name zq-j1 && ip addr add 10.9.1.1/24 dev zq-j0 && "
                                  "ip link set zq-j1 up && ip link set zq-j0 up"),
                      0);
        }
        std::shared_ptr<bool> looked = fakeclock::advance(io, std::chrono::seconds(seconds));
        ASSERT_TRUE(runUntil(io, [&] { return *looked; }));
        io.poll();
        EXPECT_EQ(recording::traceCountStarting(tried), tries) << "after " << seconds << " s more";
    }
    EXPECT_EQ(recording::traceCount(tried + "\n"), 1u);
    EXPECT_EQ(gEventLog.take(), "");  // neither the retries nor the success log anything
    fakeclock::reset();
    EXPECT_EQ(std::system("ip link del zq-j0"), 0);
}
