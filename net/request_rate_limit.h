// The request server's reply limit. A status reply is about ten times the
// size of the request that asks for it, and a UDP source address can be
// forged, so unlimited replies would let anyone aim the agent's replies at a
// third host. At most kPerSourceRate replies a second go to any one source
// address (bursts of up to kPerSourceBurst), and at most kAllSourcesRate a
// second to all sources together (bursts of up to kAllSourcesBurst).
// Loopback sources are not limited: they cannot be forged from outside, and
// local tools rely on them. Requests over the limit are dropped silently and
// counted; the count is reported at most once per kReportInterval.
//
// A flood costs the server as little as possible: the datagrams of a source
// that is over its limit (or of any source while all sources together are)
// are dropped as soon as they are received, before anything is read from
// them (overLimit); those within the limit then take their reply's share
// (allow).
//
// Memory is fixed: sources are remembered in a table of kSources entries,
// two candidate slots per address; a new source takes the slot of the one
// that has been quiet the longest. Forgetting a quiet source loses nothing,
// since its allowance is full again anyway. The table's hash is seeded per
// process, so that nobody can aim a flood at one source's slots.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "service/tick_clock.h"

namespace zq {

class RequestRateLimit {
public:
    // The agent's timer clock, so that the allowance refills as the agent's
    // time passes, on whatever clock the program was linked with.
    using Clock = TickClock;

    static constexpr unsigned kPerSourceRate = 20;
    static constexpr unsigned kPerSourceBurst = 20;
    static constexpr unsigned kAllSourcesRate = 1000;
    static constexpr unsigned kAllSourcesBurst = 1000;
    static constexpr std::size_t kSources = 4096;
    static constexpr std::chrono::seconds kReportInterval{60};

    explicit RequestRateLimit(std::uint32_t seed);

    // Whether a reply may go to IPv4 address source (host byte order) at
    // now; a refusal is counted.
    bool allow(std::uint32_t source, Clock::time_point now);

    // Whether a datagram from source at now is to be dropped unread: source
    // or all sources together have no reply left (a reply could not be
    // allowed). Takes nothing from the allowance; a drop is counted.
    bool overLimit(std::uint32_t source, Clock::time_point now);

    // The refusals counted since the last report, when a report is due at
    // now (there are some, and none was made within kReportInterval); 0
    // otherwise. A non-zero result starts the next interval.
    std::uint64_t takeDropsToReport(Clock::time_point now);

private:
    // A token bucket kept as the time at which it would be full again
    // ("theoretical arrival time"): a reply conforms when that time is at
    // most burst - 1 intervals ahead of now.
    struct Bucket {
        Clock::time_point full{};
        bool conforms(Clock::time_point now, Clock::duration interval, unsigned burst) const;
        void take(Clock::time_point now, Clock::duration interval);
    };
    struct Source {
        std::uint32_t address = 0;
        bool used = false;
        Bucket bucket;
    };

    // The first of address's two candidate slots.
    std::size_t slotIndex(std::uint32_t address) const;
    Source& sourceSlot(std::uint32_t address, Clock::time_point now);

    std::uint32_t mSeed;
    std::array<Source, kSources> mSources{};
    Bucket mAll;
    std::uint64_t mDrops = 0;
    bool mReported = false;
    Clock::time_point mLastReport{};
};

}  // namespace zq
