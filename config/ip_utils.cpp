// IPv4 address conversions between dotted-quad text and host-order values.
#include "config/ip_utils.h"

#include <cstdarg>
#include <stdexcept>
#include <utility>
#include <vector>

#include "net/host_lookup.h"

std::uint32_t resolveIpInt(const std::string& text)
{
    std::uint32_t value = inet::addr(text.c_str());
    if (value != 0 && value != 0xFFFFFFFFu)
        return inet::networkToHost(value);
    if (text == "255.255.255.255")
        return 0;

    std::vector<std::uint32_t> addresses;
    if (text.empty()) {
        // The local host's name, gethostname cut to 255 characters.
        hostlookup::OwnHost host = hostlookup::lookUpOwnHost(256);
        if (!host.addressesFound)
            return 0;
        addresses = std::move(host.addresses);
    } else if (!hostlookup::addressesOf(text.c_str(), addresses)) {
        return 0;
    }
    if (addresses.empty())
        return 0;
    return inet::networkToHost(addresses.front());
}

std::string ipIntToString(std::uint32_t value)
{
    return formatString("%u.%u.%u.%u", (value >> 24) & 0xFFu, (value >> 16) & 0xFFu,
                        (value >> 8) & 0xFFu, value & 0xFFu);
}

std::string formatString(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    formatInto(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::uint32_t getNetOctsInt(const std::string& text)
{
    std::uint32_t value = inet::networkToHost(inet::addr(text.c_str()));
    if (value == 0)
        trace("*** ERROR   getNetOctsInt   (IpAddr == 0)\r\n");
    return value;
}

std::uint32_t parseDottedQuad(const std::string& text)
{
    std::uint32_t value = 0;
    std::string::size_type i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.')
                throw std::invalid_argument("not a dotted quad: " + text);
            ++i;
        }
        std::string::size_type start = i;
        unsigned octet = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3)
            octet = octet * 10 + static_cast<unsigned>(text[i++] - '0');
        std::string::size_type digits = i - start;
        if (digits == 0 || octet > 255 || (digits > 1 && text[start] == '0'))
            throw std::invalid_argument("not a dotted quad: " + text);
        value = (value << 8) | octet;
    }
    if (i != text.size())
        throw std::invalid_argument("not a dotted quad: " + text);
    return value;
}
