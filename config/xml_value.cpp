// Element values by plain substring search.
#include "config/xml_value.h"

#include <climits>

std::string getXmlValue(const std::string& tag, const std::string& text, std::string::size_type& position)
{
    std::string::size_type found = text.find(tag, position);
    if (found == std::string::npos) {
        position = std::string::npos;
        return std::string();
    }
    std::string::size_type start = found + tag.size();
    std::string::size_type end = text.find("</", start);
    std::string value = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    position = start + value.size() + tag.size() + 1;
    return value;
}

// The rules of atoi: leading white space, an optional sign, then decimal
// digits up to the first other character; no digits give 0. A value beyond the
// range of int is held at the nearest limit rather than left undefined.
static int readInt(const std::string& value)
{
    std::string::size_type i = 0;
    while (i < value.size() && (value[i] == ' ' || (value[i] >= '\t' && value[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-'))
        negative = value[i++] == '-';
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (value[i] - '0');
        if (magnitude > limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int getXmlIntValue(const std::string& tag, const std::string& text)
{
    std::string::size_type position = 0;
    return readInt(getXmlValue(tag, text, position));
}

std::string getXmlStringValue(const std::string& tag, const std::string& text)
{
    std::string::size_type position = 0;
    return getXmlValue(tag, text, position);
}
