// The view channel's requests and replies as bytes; see net/view_protocol.h.
#include "net/view_protocol.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zq {

namespace {

// Longest header: the keyword, four numbers of 20 digits at most (the count
// has at most 4), a flag, four blanks and the line end.
constexpr std::size_t kHeaderLimit = sizeof kViewReplyKeyword - 1 + 20 + 1 + 20 + 1 + 4 + 1 + 1 + 1 + 20 + 1;
constexpr std::size_t kMaxDigits = 20;

static_assert(kHeaderLimit + 7 * (kViewTextLimit + 7) + kViewLineLimit + 7 <= kViewReplyLimit,
              "a reply with every text at its bound must still carry one line");

std::size_t decimalLength(std::size_t value)
{
    std::size_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

void appendItem(std::string& out, const std::string& value, std::size_t limit)
{
    std::size_t length = std::min(value.size(), limit);
    out += std::to_string(length);
    out += ':';
    out.append(value, 0, length);
    out += '\n';
}

// Text i of texts in the reply's order (const or not, as texts is).
template <typename Texts>
auto textsInOrder(Texts& texts, std::size_t i) -> decltype(&texts.cpuUsage)
{
    decltype(&texts.cpuUsage) order[] = {&texts.cpuUsage,    &texts.osDesc, &texts.hostName, &texts.commonLocalIps,
                                         &texts.triggerText, &texts.orvane, &texts.cloud};
    return order[i];
}

constexpr std::size_t kTextCount = 7;

// Reads bytes from a range, refusing anything that is not exactly the form.
class Reader {
public:
    Reader(const char* data, std::size_t size) : mAt(data), mEnd(data + size) {}

    bool literal(const char* text)
    {
        std::size_t length = std::strlen(text);
        if (static_cast<std::size_t>(mEnd - mAt) < length || std::memcmp(mAt, text, length) != 0)
            return false;
        mAt += length;
        return true;
    }

    // A decimal number without sign or leading zero, then the byte after
    // (or orAfter; ended() tells which).
    bool number(std::uint64_t& value, char after, char orAfter = '\0')
    {
        const char* start = mAt;
        value = 0;
        while (mAt < mEnd && *mAt >= '0' && *mAt <= '9') {
            unsigned digit = static_cast<unsigned>(*mAt - '0');
            if (mAt - start >= static_cast<std::ptrdiff_t>(kMaxDigits) ||
                value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
                return false;
            value = value * 10 + digit;
            ++mAt;
        }
        std::size_t digits = static_cast<std::size_t>(mAt - start);
        if (digits == 0 || (digits > 1 && *start == '0'))
            return false;
        if (mAt == mEnd || (*mAt != after && (orAfter == '\0' || *mAt != orAfter)))
            return false;
        ++mAt;
        return true;
    }

    bool item(std::string& value)
    {
        std::uint64_t length = 0;
        if (!number(length, ':') || length > static_cast<std::uint64_t>(mEnd - mAt))
            return false;
        std::size_t size = static_cast<std::size_t>(length);
        if (static_cast<std::size_t>(mEnd - mAt) - size < 1 || mAt[size] != '\n')
            return false;
        value.assign(mAt, size);
        mAt += size + 1;
        return true;
    }

    bool atEnd() const { return mAt == mEnd; }
    char ended() const { return mAt[-1]; }

private:
    const char* mAt;
    const char* mEnd;
};

}  // namespace

bool ViewTexts::operator==(const ViewTexts& other) const
{
    for (std::size_t i = 0; i < kTextCount; ++i) {
        if (*textsInOrder(*this, i) != *textsInOrder(other, i))
            return false;
    }
    return true;
}

std::string encodeViewRequest(std::uint64_t from, std::uint64_t run)
{
    return kViewKeyword + std::to_string(from) + " " + std::to_string(run);
}

std::optional<ViewRequest> parseViewRequest(const std::string& text)
{
    // The numbers must end the text: a terminator past the end stands for it.
    std::string terminated = text + '\0';
    Reader reader(terminated.data(), terminated.size());
    ViewRequest request;
    if (!reader.literal(kViewKeyword) || !reader.number(request.from, '\0', ' '))
        return std::nullopt;
    if (reader.ended() == ' ') {
        std::uint64_t run = 0;
        if (!reader.number(run, '\0'))
            return std::nullopt;
        request.run = run;
    }
    if (!reader.atEnd())
        return std::nullopt;
    return request;
}

ViewReplyBuilder::ViewReplyBuilder(std::uint64_t asked, const ViewTexts& texts, std::optional<std::uint64_t> run)
    : mAsked(asked), mRun(run)
{
    mBody.reserve(4096);
    for (std::size_t i = 0; i < kTextCount; ++i)
        appendItem(mBody, *textsInOrder(texts, i), kViewTextLimit);
}

bool ViewReplyBuilder::addLine(const std::string& line)
{
    std::size_t length = std::min(line.size(), kViewLineLimit);
    std::size_t cost = decimalLength(length) + 1 + length + 1;
    if (mMore || mCount == kViewMaxLines || kHeaderLimit + mBody.size() + cost > kViewReplyLimit) {
        mMore = true;
        return false;
    }
    appendItem(mBody, line, kViewLineLimit);
    ++mCount;
    return true;
}

std::string ViewReplyBuilder::finish(std::uint64_t first) const
{
    std::string reply = kViewReplyKeyword;
    reply += std::to_string(mAsked);
    reply += ' ';
    reply += std::to_string(first);
    reply += ' ';
    reply += std::to_string(mCount);
    reply += mMore ? " 1" : " 0";
    if (mRun)
        reply += " " + std::to_string(*mRun);
    reply += '\n';
    reply += mBody;
    return reply;
}

std::optional<ViewReply> parseViewReply(const char* data, std::size_t size)
{
    if (size > kViewReplyLimit)
        return std::nullopt;
    Reader reader(data, size);
    ViewReply reply;
    std::uint64_t count = 0;
    std::uint64_t more = 0;
    if (!reader.literal(kViewReplyKeyword) || !reader.number(reply.asked, ' ') || !reader.number(reply.first, ' ') ||
        !reader.number(count, ' ') || !reader.number(more, '\n', ' ') || more > 1 || count > kViewMaxLines ||
        reply.first > std::numeric_limits<std::uint64_t>::max() - count)
        return std::nullopt;
    if (reader.ended() == ' ' && !reader.number(reply.run, '\n'))
        return std::nullopt;
    reply.more = more == 1;
    for (std::size_t i = 0; i < kTextCount; ++i) {
        if (!reader.item(*textsInOrder(reply.texts, i)))
            return std::nullopt;
    }
    reply.lines.resize(static_cast<std::size_t>(count));
    for (std::string& line : reply.lines) {
        if (!reader.item(line))
            return std::nullopt;
    }
    if (!reader.atEnd())
        return std::nullopt;
    return reply;
}

}  // namespace zq
