// The whole agent through 31 days of its time on the virtual clock (or the
// days that ZQ_MONTH_DAYS names): the tick
// with its keep-alives, status reports and CPU alarms, the request server and
// its reply limit, the configuration receiver and the event log, against a
// scripted Orvane server on two loopback addresses and a scripted CPU load.
// The loop is driven one virtual second at a time, after the tick of the
// second before has run. The counts are exact, the event log stays bounded,
// and the live heap on the last day is what it was on day 2.
#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "fakes/idle_server.h"
#include "fakes/plant_host.h"
#include "golden/golden.h"
#include "service/tick_clock_virtual.h"

// The platforms' differences. The size of a heap block. The status peer's
// address 10.77.0.1 on loopback: on Windows the test command adds it in the
// network namespace that Wine's server runs in (tests/CMakeLists.txt). On
// Linux, no timer descriptor for this program's I/O loops: without one,
// Asio's reactor looks at its timers on each turn of the loop, which is what
// a virtual time needs (tick_clock_virtual.h); with one, each tick arms it to
// fire at once, a kernel timer a tick, and the month took twenty times as long.
#ifdef _WIN32
static std::size_t blockSize(void* block) { return _msize(block); }
static int addPeerAddress() { return 0; }
#else
#include <sys/timerfd.h>
static std::size_t blockSize(void* block) { return malloc_usable_size(block); }
static int addPeerAddress() { return std::system("ip addr add 10.77.0.1/32 dev lo"); }
extern "C" int timerfd_create(clockid_t, int) noexcept
{
    errno = ENOSYS;
    return -1;
}
#endif

// Live heap bytes of the whole program, counted by its operator new and
// delete (the agent, Asio and the standard library allocate through them).
namespace {
std::atomic<long long> gLiveBytes{0};

void* allocate(std::size_t size)
{
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr)
        gLiveBytes += static_cast<long long>(blockSize(block));
    return block;
}

void release(void* block) noexcept
{
    if (block != nullptr)
        gLiveBytes -= static_cast<long long>(blockSize(block));
    std::free(block);
}

void* allocateOrThrow(std::size_t size)
{
    if (void* block = allocate(size))
        return block;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }

// The trace off, as with BRINDLEMOOR_WATCHDOG_TRACE=0 on Linux: a month of it
// is gigabytes (and on Windows, whose agent always traces, a debugger call a line).
bool debugOutputOn() { return false; }
void debugOutput(const char*) {}
void diagnosticOutput(const char*, std::size_t) {}
TraceBatch::TraceBatch() = default;
TraceBatch::~TraceBatch() = default;

namespace {

namespace asio = boost::asio;
using udp = asio::ip::udp;
using namespace std::chrono_literals;

constexpr long kDay = 86400;  // ticks
constexpr int kLocals = 2;    // 127.0.0.2, 127.0.0.3
constexpr int kServers = 2;   // 127.0.0.1, 127.0.0.4
constexpr int kPairs = kLocals * kServers;
enum Kind { kKeepAlive, kReport, kAlarm, kKinds };

// The load of each day: idle at 3 % but for these bursts (alarm at 90 % held
// for 5 ticks). Alarms are the ticks, from the burst's first, where one must
// be sent: the fifth tick at or above the threshold, then every 180 ticks
// while the load stays, never within 180 ticks of the last.
struct Burst {
    long start;  // second of the day of its first tick
    long length;
    int percent;
    std::vector<long> alarms;
};
const std::vector<Burst> kBursts = {
    {2 * 3600, 4, 95, {}},                        // too short
    {4 * 3600, 5, 90, {4}},                       // just long enough, at the threshold
    {5 * 3600, 5, 89, {}},                        // below the threshold
    {6 * 3600, 184, 99, {4}},                     // one tick short of a second alarm
    {8 * 3600, 185, 100, {4, 184}},
    {10 * 3600, 600, 97, {4, 184, 364, 544}},
    {12 * 3600, 5, 95, {4}},
    {12 * 3600 + 100, 5, 95, {}},                 // within the hold-off of the one before
    {12 * 3600 + 300, 150, 99, {4}},              // beyond the hold-off
    {12 * 3600 + 600, 10, 120, {4}},              // over 100 %: no wrap below 128
};

int loadAt(long secondOfDay)
{
    for (const Burst& burst : kBursts)
        if (secondOfDay >= burst.start && secondOfDay < burst.start + burst.length)
            return burst.percent;
    return 3;
}

udp::socket loopbackSocket(asio::io_service& io, const char* address, unsigned short port = 0)
{
    // Both servers at one port: Wine lets the second address have it only
    // with this option.
    udp::socket socket(io, udp::v4());
    socket.set_option(udp::socket::reuse_address(true));
    socket.bind(udp::endpoint(asio::ip::make_address_v4(address), port));
    socket.non_blocking(true);
    return socket;
}

// Takes the datagrams waiting at socket: calls take(text) for each.
template <typename Take>
void drain(udp::socket& socket, std::string& text, Take take)
{
    char buffer[4096];
    boost::system::error_code error;
    udp::endpoint from;
    for (std::size_t n; (n = socket.receive_from(asio::buffer(buffer), from, 0, error)), !error;)
        take(text.assign(buffer, n));
}

TEST(Month, DaysOfTicksOnTheVirtualClock)
{
    // 31 days unless ZQ_MONTH_DAYS names another number (at least 3).
    const long kDays = std::getenv("ZQ_MONTH_DAYS") != nullptr ? std::atol(std::getenv("ZQ_MONTH_DAYS")) : 31;
    ASSERT_GE(kDays, 3);
    // The status peer's address: not loopback, so that the reply limit applies.
    ASSERT_EQ(addPeerAddress(), 0);
    planthost::use({"127.0.0.2", "127.0.0.3"});
    planthost::scriptCpu();
    // The scripted Orvane servers, one socket on each server address, both
    // at one port; a pair is the sender's address and the server's socket.
    asio::io_service testIo;
    udp::socket servers[kServers] = {loopbackSocket(testIo, "127.0.0.1"), udp::socket(testIo)};
    const unsigned short port = servers[0].local_endpoint().port();
    servers[1] = loopbackSocket(testIo, "127.0.0.4", port);
    const std::string config = "beaconCfgAlarm<srvIpAddr>127.0.0.1</srvIpAddr><srvIpAddr>127.0.0.4</srvIpAddr>"
                               "<srvIpPort>" + std::to_string(port) +
                               "</srvIpPort><cpuPercent>90</cpuPercent><alarmSeconds>5</alarmSeconds>";
    udp::socket peer = loopbackSocket(testIo, "10.77.0.1");
    const udp::endpoint agentRequests(asio::ip::make_address_v4("10.77.0.1"), zq::kRequestPort);

    IdleServer server;
    asio::io_service& io = server.mIoService;
    zq::ZqServer::setCrossOver(config);
    ASSERT_EQ(server.mNumPairs, kPairs);
    udp::socket multicast(io, udp::v4());
    multicast.set_option(asio::ip::multicast::outbound_interface(asio::ip::address_v4::loopback()));
    const udp::endpoint orvaneGroup(asio::ip::make_address(zq::kOrvaneGroup), zq::kAgentPort);

    std::vector<long> alarmTicks;
    for (long day = 0; day < kDays; ++day)
        for (const Burst& burst : kBursts)
            for (long offset : burst.alarms)
                alarmTicks.push_back(day * kDay + burst.start + offset + 1);
    std::size_t nextAlarm = 0;
    long counts[kPairs][kKinds] = {};
    std::string text(4096, ' '), last[kKinds], firstReply, reply;
    // Asks for the status count times at once; the replies that came.
    auto ask = [&](int count) {
        for (int i = 0; i < count; ++i)
            peer.send_to(asio::buffer(zq::kStatusKeyword, std::strlen(zq::kStatusKeyword)), agentRequests);
        io.poll();
        io.restart();
        int replies = 0;
        drain(peer, text, [&](const std::string& got) { ++replies, reply = got; });
        return replies;
    };

    long long heapDay2 = 0;
    std::size_t mostEventLines = 0;
    const auto started = std::chrono::steady_clock::now();
    asio::steady_timer poke(io);
    for (long tick = 1; tick <= kDays * kDay; ++tick) {
        fakecpu::setDefaultValue(loadAt((tick - 1) % kDay));
        // The first tick is due six seconds after the server was made.
        zq::virtualclock::advance(tick == 1 ? 6s : 1s);
        poke.expires_after(0s);
        poke.async_wait([](const boost::system::error_code&) {});
        // The loop runs handler by handler until the tick has run. On Windows
        // it looks at its timers only once Asio's timer thread has woken it:
        // the poke, a timer due at once, has it do so.
        for (int turn = 0; turn < 1000000 && server.mTickCount != tick; ++turn) {
            io.poll_one();
            io.restart();
        }
        if (server.mTickCount != tick) {
            FAIL() << "tick " << tick << " ran " << server.mTickCount << " ticks";
        }
        // Each alarm at its scripted tick; the servers' datagrams counted
        // when the keep-alives come (a socket call is dear under Wine).
        if (server.mAlarmsSent.load() != nextAlarm) {
            EXPECT_TRUE(nextAlarm < alarmTicks.size() && alarmTicks[nextAlarm] == tick) << "alarm at " << tick;
            ++nextAlarm;
        }
        for (int s = 0; tick % 30 == 0 && s < kServers; ++s) {
            drain(servers[s], text, [&](const std::string& got) {
                const int kind = got.rfind("<wdKA>", 0) == 0 ? kKeepAlive
                                 : got.rfind("<wdStatus>", 0) == 0 ? kReport
                                 : got.rfind("<CPU_ALARM>", 0) == 0 ? kAlarm : kKinds;
                // The pair's local address as the last <ipAddr> names it
                // (under Wine a socket bound to one loopback address sends
                // from another); alarms name none: counted on the server.
                const std::size_t named = got.rfind("<ipAddr>127.0.0.");
                const int pair = (kind == kAlarm ? 0 : named == std::string::npos ? -9 : got[named + 16] - '2') *
                                     kServers + s;
                ASSERT_TRUE(pair >= 0 && pair < kPairs && kind < kKinds) << got;
                ++counts[pair][kind];
                last[kind] = got;
            });
        }
        // The Orvane server repeats its configuration every two minutes; each
        // one is a line of the event log, which the dialog drains.
        if (tick % 120 == 0)
            multicast.send_to(asio::buffer(config), orvaneGroup);
        gEventLog.take();
        if (tick % 3600 == 0) {
            std::size_t lines = 0;
            gEventLog.visitHistory(0, [&](const std::string&) { return ++lines, true; });
            mostEventLines = std::max(mostEventLines, lines);
            // The scripted host's record of the names looked up is the
            // stand-in's, not the agent's: forgotten every hour.
            planthost::use({"127.0.0.2", "127.0.0.3"});
        }

        // The first and the last day, at the same hour: 25 requests at once get the
        // burst of 20 replies; a second later the allowance is full again.
        const bool firstOrLastDay = tick < kDay || tick > (kDays - 1) * kDay;
        if (firstOrLastDay && tick % kDay == 3000) {
            EXPECT_EQ(ask(25), 20) << "tick " << tick;
            if (tick < kDay)
                firstReply = reply;
            EXPECT_EQ(reply, firstReply);
        }
        if (firstOrLastDay && tick % kDay == 3001) {
            EXPECT_EQ(ask(20), 20) << "tick " << tick;
        }
        if (tick == 2 * kDay)
            heapDay2 = gLiveBytes.load();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long long heapLastDay = gLiveBytes.load();
    std::cout << kDays << " days in " << seconds << " s; live heap bytes: day 2 " << heapDay2 << ", last day "
              << heapLastDay << "\n";

    // A keep-alive every 30th tick, a report every 600th and one at the
    // first tick, over each pair: 89,280 and 4,465 in 31 days.
    for (int pair = 0; pair < kPairs; ++pair) {
        EXPECT_EQ(counts[pair][kKeepAlive], kDays * kDay / 30) << "pair " << pair;
        EXPECT_EQ(counts[pair][kReport], kDays * kDay / 600 + 1) << "pair " << pair;
        EXPECT_EQ(counts[pair][kAlarm], pair < kServers ? kLocals * static_cast<long>(alarmTicks.size()) : 0)
            << "pair " << pair;
    }
    EXPECT_EQ(nextAlarm, alarmTicks.size());
    EXPECT_EQ(server.mAlarmsSent.load(), alarmTicks.size());
    const std::string os = server.getOsDescText();
    EXPECT_EQ(last[kKeepAlive],
              golden("keep_alive", {{"ADDRESS", "127.0.0.3"}, {"CPU", "3"}, {"HOST", "plant-pc"}, {"OS", os}}));
    EXPECT_EQ(firstReply, golden("status_reply", {{"ADDRESS", "127.0.0.2"}, {"CPU", "3"}, {"OS", os}}));

    // 22,320 configurations a month and the reply limit's reports passed through the
    // event log; it kept the newest 1,000 lines.
    EXPECT_EQ(mostEventLines, EventLog::kHistoryLines);
    EXPECT_NEAR(static_cast<double>(heapLastDay), static_cast<double>(heapDay2), 4096.0);
}

}  // namespace
