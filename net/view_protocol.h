// The view channel: how a view of the running agent (a second window, or a
// console started while the agent runs) asks the agent's request server for
// what its dialog shows, and how the answer is laid out. Pure functions on
// bytes, so that hostile requests and hostile replies are tested without a
// socket.
//
// Request: "VIEW_REQUEST " and the sequence number of the first event line
// wanted, in decimal (0 for all that the agent keeps); then, from views that
// read the run, " " and the run that the view last heard from (0 for none).
// Sequence numbers count from 0 in each run of the agent; a run is named by
// a number that the agent chooses at its start. A view that names another run
// than the agent's gets the agent's lines from the oldest it keeps, whatever
// number it asked for, so that it misses nothing of the new run.
//
// Reply, one datagram of at most kViewReplyLimit bytes:
//   "VIEW_REPLY " asked " " first " " count " " more [" " run] "\n"
//   then seven items, the display texts in the order of ViewTexts,
//   then count items, the event lines with the numbers first, first + 1, ...
// Each item is its length in decimal, ":", that many bytes of any value, and
// "\n". Numbers are decimal without sign or leading zeros, at most 20 digits;
// asked repeats the request's number; more is 1 when further lines were due
// than fit, 0 otherwise; run, the agent's run, comes only in a reply to a
// request that named one (a view that knows nothing of runs reads the reply
// as it always did). Nothing follows the last item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zq {

constexpr char kViewKeyword[] = "VIEW_REQUEST ";
constexpr char kViewReplyKeyword[] = "VIEW_REPLY ";

// Bounds of one reply: the whole datagram, each display text, each event
// line, and the lines it carries. With every text at its bound the header and
// the texts leave room for at least one line at its bound, so that a view
// that asks again always makes progress.
constexpr std::size_t kViewReplyLimit = 60000;
constexpr std::size_t kViewTextLimit = 4096;
constexpr std::size_t kViewLineLimit = 16384;
constexpr std::size_t kViewMaxLines = 1000;

// The seven texts that the dialog shows, in the reply's order.
struct ViewTexts {
    std::string cpuUsage;
    std::string osDesc;
    std::string hostName;
    std::string commonLocalIps;
    std::string triggerText;
    std::string orvane;
    std::string cloud;

    bool operator==(const ViewTexts& other) const;
};

// A parsed request; run is 0 when the request names none.
struct ViewRequest {
    std::uint64_t from = 0;
    std::optional<std::uint64_t> run;
};

// A parsed reply; run is 0 when the reply names none.
struct ViewReply {
    std::uint64_t run = 0;
    std::uint64_t asked = 0;
    std::uint64_t first = 0;
    bool more = false;
    ViewTexts texts;
    std::vector<std::string> lines;

    // The number to ask for next.
    std::uint64_t next() const { return first + lines.size(); }
};

std::string encodeViewRequest(std::uint64_t from, std::uint64_t run);
// A well-formed request, nothing else: the keyword at the start, a number
// of 1 to 20 digits without a leading zero (but "0") that fits 64 bits,
// optionally a blank and a second such number, and nothing after them.
std::optional<ViewRequest> parseViewRequest(const std::string& text);

// Builds one reply: the texts (each cut to kViewTextLimit), then as many
// lines (each cut to kViewLineLimit) as fit the datagram.
class ViewReplyBuilder {
public:
    // run: the agent's run, named in the reply when the request named one.
    ViewReplyBuilder(std::uint64_t asked, const ViewTexts& texts, std::optional<std::uint64_t> run = std::nullopt);
    // Adds line if it fits; otherwise marks the reply as having more and
    // returns false (and so does every later call).
    bool addLine(const std::string& line);
    // The reply's bytes, its first line numbered first.
    std::string finish(std::uint64_t first) const;

private:
    std::uint64_t mAsked;
    std::optional<std::uint64_t> mRun;
    std::string mBody;
    std::size_t mCount = 0;
    bool mMore = false;
};

// The reply in data, or nothing unless it is well formed as above (and no
// more than kViewMaxLines lines whose numbers stay within 64 bits).
std::optional<ViewReply> parseViewReply(const char* data, std::size_t size);

}  // namespace zq
