// The request server's reply limit: token buckets per source and for all
// sources together, in a table of fixed size.
#include "net/request_rate_limit.h"

#include <initializer_list>

namespace zq {

namespace {

constexpr RequestRateLimit::Clock::duration intervalOf(unsigned perSecond)
{
    return std::chrono::duration_cast<RequestRateLimit::Clock::duration>(std::chrono::seconds(1)) / perSecond;
}

constexpr RequestRateLimit::Clock::duration kPerSourceInterval = intervalOf(RequestRateLimit::kPerSourceRate);
constexpr RequestRateLimit::Clock::duration kAllSourcesInterval = intervalOf(RequestRateLimit::kAllSourcesRate);

bool isLoopback(std::uint32_t address)
{
    return (address >> 24) == 127;
}

}  // namespace

bool RequestRateLimit::Bucket::conforms(Clock::time_point now, Clock::duration interval, unsigned burst) const
{
    return full <= now + interval * static_cast<int>(burst - 1);
}

void RequestRateLimit::Bucket::take(Clock::time_point now, Clock::duration interval)
{
    full = (full > now ? full : now) + interval;
}

RequestRateLimit::RequestRateLimit(std::uint32_t seed)
    : mSeed(seed | 1u)
{
}

std::size_t RequestRateLimit::slotIndex(std::uint32_t address) const
{
    static_assert((kSources & (kSources - 1)) == 0, "the table's size is a power of two");
    return static_cast<std::size_t>((address * mSeed) >> 20) & (kSources - 2);
}

RequestRateLimit::Source& RequestRateLimit::sourceSlot(std::uint32_t address, Clock::time_point now)
{
    std::size_t first = slotIndex(address);
    Source* candidates[2] = {&mSources[first], &mSources[first + 1]};
    for (Source* slot : candidates) {
        if (slot->used && slot->address == address)
            return *slot;
    }
    // The slot of the source that has been quiet the longest (an unused one
    // has never been full at any time).
    Source* slot = candidates[0]->bucket.full <= candidates[1]->bucket.full ? candidates[0] : candidates[1];
    if (!candidates[0]->used)
        slot = candidates[0];
    else if (!candidates[1]->used)
        slot = candidates[1];
    slot->address = address;
    slot->used = true;
    slot->bucket.full = now;
    return *slot;
}

bool RequestRateLimit::allow(std::uint32_t source, Clock::time_point now)
{
    if (isLoopback(source))
        return true;
    Source& slot = sourceSlot(source, now);
    if (!slot.bucket.conforms(now, kPerSourceInterval, kPerSourceBurst) ||
        !mAll.conforms(now, kAllSourcesInterval, kAllSourcesBurst)) {
        ++mDrops;
        return false;
    }
    slot.bucket.take(now, kPerSourceInterval);
    mAll.take(now, kAllSourcesInterval);
    return true;
}

bool RequestRateLimit::overLimit(std::uint32_t source, Clock::time_point now)
{
    if (isLoopback(source))
        return false;
    bool over = !mAll.conforms(now, kAllSourcesInterval, kAllSourcesBurst);
    if (!over) {
        // A source that is not in the table has its whole burst.
        std::size_t first = slotIndex(source);
        for (const Source* slot : {&mSources[first], &mSources[first + 1]}) {
            if (slot->used && slot->address == source)
                over = !slot->bucket.conforms(now, kPerSourceInterval, kPerSourceBurst);
        }
    }
    if (over)
        ++mDrops;
    return over;
}

std::uint64_t RequestRateLimit::takeDropsToReport(Clock::time_point now)
{
    if (mDrops == 0 || (mReported && now - mLastReport < kReportInterval))
        return 0;
    std::uint64_t drops = mDrops;
    mDrops = 0;
    mReported = true;
    mLastReport = now;
    return drops;
}

}  // namespace zq
