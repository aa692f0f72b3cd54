// Element reading on arbitrary texts and tags. The input is the tag, a line
// feed, then the text (without a line feed the tag is empty and the input is
// the text). Checked against a model written here from the rules:
//   - getXmlValue finds the tag at or after the position; the value runs from
//     the end of the tag to the next "</" or to the end of the text; the
//     position moves just past the closing tag, always forward, or to npos
//     (with an empty value) when the tag is not found;
//   - repeated calls from position 0 end within one call per character;
//   - getXmlStringValue is the first value, getXmlIntValue reads it as atoi
//     does, held to the range of int.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/xml_value.h"
#include "fuzz/fuzz_support.h"

namespace {

using Size = std::string::size_type;
constexpr Size npos = std::string::npos;

// The first index at or after from where tag begins, by a plain search.
Size modelFind(const std::string& text, const std::string& tag, Size from)
{
    if (from > text.size())
        return npos;
    auto found = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), tag.begin(), tag.end());
    if (found == text.end() && !tag.empty())
        return npos;
    return static_cast<Size>(found - text.begin());
}

// atoi's reading: white space, a sign, decimal digits; the result held to
// the range of int.
int modelInt(const std::string& value)
{
    std::string terminated = value.c_str();  // a zero byte ends the number like any other
    long long read = std::strtoll(terminated.c_str(), nullptr, 10);
    if (read > INT_MAX)
        return INT_MAX;
    if (read < INT_MIN)
        return INT_MIN;
    return static_cast<int>(read);
}

std::string describe(const std::string& tag, const std::string& text, Size position)
{
    return "tag [" + fuzz::printable(tag) + "] text [" + fuzz::printable(text) + "] position " +
           (position == npos ? std::string("npos") : std::to_string(position));
}

// One call of getXmlValue from position, checked; returns the new position.
Size checkedRead(const std::string& tag, const std::string& text, Size position)
{
    Size moved = position;
    std::string value = getXmlValue(tag, text, moved);
    // Built only for a report.
    auto where = [&] { return describe(tag, text, position); };
    Size found = modelFind(text, tag, position == npos ? text.size() + 1 : position);
    if (found == npos) {
        FUZZ_CHECK(moved == npos, "not found, yet the position moved to " + std::to_string(moved) + ": " + where());
        FUZZ_CHECK(value.empty(), "not found, yet a value [" + fuzz::printable(value) + "]: " + where());
        return npos;
    }
    Size start = found + tag.size();
    Size end = modelFind(text, "</", start);
    std::string expected = text.substr(start, end == npos ? npos : end - start);
    FUZZ_CHECK(value == expected, "value [" + fuzz::printable(value) + "] expected [" + fuzz::printable(expected) +
                                      "]: " + where());
    FUZZ_CHECK(value.find("</") == npos, "the value holds a closing mark: " + where());
    FUZZ_CHECK(moved == found + tag.size() + value.size() + tag.size() + 1,
               "position " + std::to_string(moved) + " is not past the closing tag: " + where());
    FUZZ_CHECK(position == npos || moved > position, "the position did not move forward: " + where());
    return moved;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const Size newline = input.find('\n');
    const std::string tag = newline == npos ? std::string() : input.substr(0, newline);
    const std::string text = newline == npos ? input : input.substr(newline + 1);

    // The scan that configuration processing does: it ends, moving forward.
    Size position = 0;
    Size calls = 0;
    while (position != npos) {
        position = checkedRead(tag, text, position);
        ++calls;
        FUZZ_CHECK(calls <= text.size() + 2, "the scan does not end: " + describe(tag, text, 0));
    }

    // Reads from other starting points, the text's end and beyond included.
    for (Size start = 1; start <= 16; ++start)
        checkedRead(tag, text, start);
    checkedRead(tag, text, text.size());
    checkedRead(tag, text, text.size() + 1);
    checkedRead(tag, text, npos);

    Size first = 0;
    const std::string firstValue = getXmlValue(tag, text, first);
    FUZZ_CHECK(getXmlStringValue(tag, text) == firstValue, describe(tag, text, 0));
    const int number = getXmlIntValue(tag, text);
    FUZZ_CHECK(number == modelInt(firstValue),
               "read " + std::to_string(number) + ", atoi gives " + std::to_string(modelInt(firstValue)) + ": " +
                   describe(tag, text, 0));
    return 0;
}
