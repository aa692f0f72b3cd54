// The timer cycle, driven tick by tick: handle_timer is called directly and
// the documents travel over real loopback sockets to a socket of the test.
#include <gtest/gtest.h>

#include <boost/asio/ip/udp.hpp>

#include "config/xml_value.h"
#include "fakes/idle_server.h"
#include "fakes/plant_host.h"
#include "golden/golden.h"
#include "support/run_until.h"

namespace {

namespace asio = boost::asio;
using udp = asio::ip::udp;

// The local addresses of the plant host of these tests, as documents list them.
const std::string kBothAddresses = "<ipAddr>127.0.0.2</ipAddr><ipAddr>127.0.0.3</ipAddr>";

struct Datagram {
    udp::endpoint from;
    std::string text;
};

// The Orvane server's side: a loopback socket that collects what arrives.
class ServerSocket {
public:
    ServerSocket() : socket_(io_, udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0)), probe_(io_)
    {
        probe_.open(udp::v4());
    }

    unsigned short port() const { return socket_.local_endpoint().port(); }

    // Everything that has arrived so far: a marker sent after the sends under
    // test arrives behind them, so reading up to it needs no sleeping. Each
    // wait gives up after runUntil's deadline, so a lost marker fails the
    // test instead of hanging it.
    std::vector<Datagram> drain()
    {
        probe_.send_to(asio::buffer("MARK", 4), socket_.local_endpoint());
        std::vector<Datagram> got;
        for (int i = 0; i < 1000; ++i) {
            char buffer[4096];
            udp::endpoint from;
            std::size_t n = 0;
            boost::system::error_code result;
            if (!receiveOne(io_, socket_, asio::buffer(buffer), from, n, result)) {
                ADD_FAILURE() << "the marker never arrived";
                break;
            }
            EXPECT_FALSE(result) << result.message();
            std::string text(buffer, n);
            if (text == "MARK" && from.port() == probe_.local_endpoint().port())
                break;
            got.push_back({from, text});
        }
        return got;
    }

private:
    asio::io_service io_;
    udp::socket socket_;
    udp::socket probe_;
};

// Each datagram as its first line and the pair's local address that its last
// "<ipAddr>" names (alarms name none of their own). The source address is not
// used: under Wine a socket bound to one loopback address sends from another.
std::vector<std::string> kinds(const std::vector<Datagram>& datagrams)
{
    std::vector<std::string> result;
    for (const Datagram& d : datagrams) {
        EXPECT_EQ(d.from.port(), zq::kAgentPort) << d.text;
        std::string kind = d.text.substr(0, d.text.find('\n'));
        std::string::size_type last = d.text.rfind("<ipAddr>");
        if (kind != "<CPU_ALARM>" && last != std::string::npos)
            kind += "@" + getXmlStringValue("<ipAddr>", d.text.substr(last));
        result.push_back(kind);
    }
    return result;
}

class TimerCycle : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        fakecpu::reset();
        CpuUsage::getCpuTotalUsage();  // the sampler's opening call
    }

    void SetUp() override
    {
        planthost::use({"127.0.0.2", "127.0.0.3"});
        fakecpu::setDefaultValue(3);
        server = std::make_unique<IdleServer>();
        server->mOsDesc = "Test OS";
        recording::clearTrace();
        gEventLog.take();
    }

    void configure(const std::string& settings = "<cpuPercent>90</cpuPercent><alarmSeconds>5</alarmSeconds>")
    {
        zq::ZqServer::setCrossOver("beaconCfgAlarm<srvIpAddr>127.0.0.1</srvIpAddr><srvIpPort>" +
                                   std::to_string(orvane.port()) + "</srvIpPort>" + settings);
        ASSERT_EQ(server->mNumPairs, 2);
    }

    void configure_one()
    {
        zq::ZqServer::setCrossOver("beaconCfgAlarm<srvIpAddr>127.0.0.1</srvIpAddr><srvIpPort>" +
                                   std::to_string(orvane.port()) + "</srvIpPort>");
    }

    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            server->handle_timer();
    }

    ServerSocket orvane;
    std::unique_ptr<IdleServer> server;
};

}  // namespace

TEST_F(TimerCycle, FirstTickIsDueSixSecondsAfterConstruction)
{
    auto wait = server->mTimer.expiry() - zq::TickClock::now();
    EXPECT_GT(wait, std::chrono::milliseconds(5500));
    EXPECT_LE(wait, std::chrono::seconds(6));
    EXPECT_TRUE(server->mTimerRunning);
    EXPECT_EQ(server->mTimerSeconds, 1);
}

TEST_F(TimerCycle, WithoutConfigurationNothingIsSent)
{
    fakecpu::setDefaultValue(100);  // default threshold 100 %, 5 ticks
    ticks(29);
    recording::clearTrace();
    ticks(1);
    EXPECT_EQ(server->mTickCount, 30);
    EXPECT_EQ(recording::traceJoined(), "ZqServer::handle_timer\nZqServer::handle_timer [0][5][100] \n");
    EXPECT_TRUE(orvane.drain().empty());
    // The alarm state ran all the same: the hold-off was set at tick 5.
    EXPECT_EQ(server->mAlarmHoldoff, 180 - 25);
    EXPECT_EQ(server->mCpuUsage, 100);
}

TEST_F(TimerCycle, ReportFirstThenKeepAlivesAndTick600Order)
{
    ticks(3);
    configure();
    ticks(1);  // the first tick after the configuration sends the reports
    auto got = orvane.drain();
    ASSERT_EQ(kinds(got), (std::vector<std::string>{"<wdStatus>@127.0.0.2", "<wdStatus>@127.0.0.3"}));
    EXPECT_EQ(got[0].text, golden("status_report", {{"INTERFACES", kBothAddresses}, {"ADDRESS", "127.0.0.2"},
                                                    {"CPU", "3"}, {"OS", "Test OS"}, {"HOST", "plant-pc"}}));
    EXPECT_NE(got[1].text.find("</localIpInterfaces><ipAddr>127.0.0.3</ipAddr>\n"), std::string::npos);
    EXPECT_TRUE(server->mReportSent);
    EXPECT_EQ(server->mOrvaneServer.get(), "");

    ticks(24);
    EXPECT_TRUE(orvane.drain().empty());
    configure();  // a later configuration brings no second immediate report
    ticks(1);     // tick 29
    EXPECT_TRUE(orvane.drain().empty());
    ticks(1);  // tick 30
    got = orvane.drain();
    ASSERT_EQ(kinds(got), (std::vector<std::string>{"<wdKA>@127.0.0.2", "<wdKA>@127.0.0.3"}));
    EXPECT_EQ(got[1].text,
              golden("keep_alive", {{"ADDRESS", "127.0.0.3"}, {"CPU", "3"}, {"OS", "Test OS"}, {"HOST", "plant-pc"}}));
    EXPECT_EQ(server->mOrvaneServer.get(), "127.0.0.1");

    server->mTickCount = 599;
    recording::clearTrace();
    ticks(1);
    EXPECT_EQ(kinds(orvane.drain()), (std::vector<std::string>{"<wdKA>@127.0.0.2", "<wdKA>@127.0.0.3",
                                                               "<wdStatus>@127.0.0.2", "<wdStatus>@127.0.0.3"}));
    std::string traced = recording::traceJoined();
    EXPECT_LT(traced.find("sendData for watchdog KEEP ALIVE[1] \n"), traced.find("sendData for watchdog [0] \n"));
}

TEST_F(TimerCycle, AlarmsUnderConstantLoadAreHeldOff180Ticks)
{
    configure();
    orvane.drain();
    fakecpu::setDefaultValue(100);
    std::vector<int> alarmTicks;
    for (int tick = 1; tick <= 370; ++tick) {
        server->handle_timer();
        for (const Datagram& d : orvane.drain()) {
            if (d.text.rfind("<CPU_ALARM>\n", 0) == 0)
                alarmTicks.push_back(tick);
        }
        if (tick == 5) {
            EXPECT_NE(recording::traceJoined().find("ZqServer::handle_timer [0][5][90] \n"), std::string::npos);
        }
    }
    // Two pairs: each alarm tick sends two alarms.
    EXPECT_EQ(alarmTicks, (std::vector<int>{5, 5, 185, 185, 365, 365}));
    EXPECT_EQ(server->mAlarmsSent, 3u) << "the console learns of each alarm";
}

TEST_F(TimerCycle, AlarmDocumentAndCountdownReload)
{
    configure("<cpuPercent>90</cpuPercent><alarmSeconds>3</alarmSeconds>");
    server->mReportSent = true;  // leave out the first report
    // The countdown goes on from 5 until a tick below the threshold reloads
    // it with the configured 3.
    for (double load : {95.0, 95.0, 50.0, 95.0, 95.0})
        fakecpu::pushValue(0, load);
    ticks(5);
    EXPECT_EQ(server->mAlarmCountdown, 1);
    EXPECT_TRUE(orvane.drain().empty());
    EXPECT_EQ(server->mAlarmsSent, 0u);

    fakecpu::pushValue(0, 99.9);
    ticks(1);
    auto got = orvane.drain();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].text,
              golden("cpu_alarm", {{"INTERFACES", kBothAddresses}, {"CPU", "99"}, {"OS", "Test OS"}, {"HOST", "plant-pc"}}));
    EXPECT_EQ(server->mAlarmCountdown, 0);
    EXPECT_EQ(server->mAlarmHoldoff, 180);
    const std::string to = "127.0.0.1:" + std::to_string(orvane.port());
    EXPECT_EQ(server->mAlarmsSent, 1u);
    EXPECT_EQ(server->mLastAlarm.get(), "99% sent to " + to + " from 127.0.0.2, " + to + " from 127.0.0.3");

    // Low ticks between high stretches: the hold-off keeps running down.
    fakecpu::setDefaultValue(10);
    ticks(10);
    EXPECT_EQ(server->mAlarmHoldoff, 170);
    EXPECT_EQ(server->mAlarmCountdown, 3);
}

TEST_F(TimerCycle, MissingSenderStillTracesItsIndex)
{
    configure();
    zq::UdpBoundSocket* second = server->mSenders[1];
    server->mSenders[1] = nullptr;
    fakecpu::setDefaultValue(100);
    server->mAlarmCountdown = 1;
    server->mTickCount = 29;
    orvane.drain();
    recording::clearTrace();
    ticks(1);  // tick 30: keep-alive, first report, and an alarm
    EXPECT_EQ(kinds(orvane.drain()), (std::vector<std::string>{"<wdKA>@127.0.0.2", "<wdStatus>@127.0.0.2",
                                                               "<CPU_ALARM>"}));
    std::string traced = recording::traceJoined();
    for (const char* line : {"sendData for watchdog KEEP ALIVE[1] \n", "sendData for watchdog [1] \n",
                             "sendData for network [1] \n"})
        EXPECT_NE(traced.find(line), std::string::npos) << line;
    EXPECT_TRUE(server->mReportSent);
    server->mSenders[1] = second;
}

TEST_F(TimerCycle, AFailedSendDoesNotStopTheTick)
{
    configure();
    orvane.drain();
    // Broadcast without permission fails at once: pair 0 cannot be sent.
    server->mRemoteEndpoints[0] = udp::endpoint(asio::ip::address_v4::broadcast(), orvane.port());
    fakecpu::setDefaultValue(42);
    server->mReportSent = false;
    ticks(1);
    EXPECT_EQ(kinds(orvane.drain()), (std::vector<std::string>{"<wdStatus>@127.0.0.3"}));
    EXPECT_TRUE(server->mReportSent);
    EXPECT_EQ(server->mCpuUsage, 42);
    EXPECT_EQ(gEventLog.take(), "\r ZqServer= *** EXCEPTION  UdpBoundSocket::sendData\n\r");
    EXPECT_NE(recording::traceJoined().find("ZqServer::handle_timer [5][5][90] \n"), std::string::npos);

    // Keep-alives that fail, or (port 0) send nothing, name no server.
    server->mRemoteEndpoints[1] = udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0);
    server->mTickCount = 29;
    ticks(1);
    EXPECT_EQ(server->mOrvaneServer.get(), "");
}

TEST_F(TimerCycle, EachPairGoesThroughTheSenderOfItsOwnAddress)
{
    // Only the second address shares the server's network: the one pair,
    // index 0, names it and leaves through the sender bound to it (sender
    // 1), even with no sender for the first address at all.
    server.reset();
    fakehost::Host host = fakehost::get();
    host.addresses = {"127.0.2.2", "127.0.0.3"};
    fakehost::set(host);
    server = std::make_unique<IdleServer>();
    server->mOsDesc = "Test OS";
    configure_one();
    ASSERT_EQ(server->mNumPairs, 1);
    EXPECT_EQ(server->senderFor(0), server->mSenders[1]);
    zq::UdpBoundSocket* first = server->mSenders[0];
    server->mSenders[0] = nullptr;
    server->mTickCount = 29;
    ticks(1);
    EXPECT_EQ(kinds(orvane.drain()), (std::vector<std::string>{"<wdKA>@127.0.0.3", "<wdStatus>@127.0.0.3"}));
    server->mSenders[0] = first;
}

TEST_F(TimerCycle, ChangedAddressesBringNewSendersAndPairsButNoSecondReport)
{
    configure();
    ticks(1);
    ASSERT_EQ(kinds(orvane.drain()), (std::vector<std::string>{"<wdStatus>@127.0.0.2", "<wdStatus>@127.0.0.3"}));
    zq::UdpBoundSocket* kept = server->mSenders[1];

    // Nothing changed on the interfaces: nothing is taken again.
    server->checkLocalAddresses();
    EXPECT_EQ(server->mSenders[1], kept);
    EXPECT_EQ(recording::traceJoined().find("checkLocalAddresses"), std::string::npos);

    // 127.0.0.2 is replaced by 127.0.0.4.
    fakehost::Host host = fakehost::get();
    host.addresses = {"127.0.0.3", "127.0.0.4"};
    host.interfaces = {"127.0.0.3", "127.0.0.4"};
    fakehost::set(host);
    recording::clearTrace();
    server->checkLocalAddresses();
    std::string traced = recording::traceJoined();
    for (const char* line : {"ZqServer::checkLocalAddresses  interfaces [] -> [127.0.0.3, 127.0.0.4]\n",
                             "ZqServer::checkLocalAddresses  local address gone [127.0.0.2]\n",
                             "ZqServer::checkLocalAddresses  local address new [127.0.0.4]\n",
                             "ZqServer::checkLocalAddresses  sender [127.0.0.4]\n",
                             "ZqServer::checkLocalAddresses  configuration applied again\n"})
        EXPECT_NE(traced.find(line), std::string::npos) << line;
    EXPECT_EQ(server->mSenders[0], kept);  // 127.0.0.3 keeps its sender
    EXPECT_EQ(server->mCommonLocalIps.get(), "127.0.0.3,  127.0.0.4");
    EXPECT_EQ(server->mTriggerText.get(), "90%:5s");

    server->mTickCount = 29;
    ticks(1);
    EXPECT_EQ(kinds(orvane.drain()), (std::vector<std::string>{"<wdKA>@127.0.0.3", "<wdKA>@127.0.0.4"}));
}
