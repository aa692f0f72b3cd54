// IPv4 address conversions. An address value is 32 bits in host byte order,
// first octet most significant; 0 means no address.
#pragma once

#include <cstdint>
#include <string>

#include "trace/trace.h"

// A dotted quad converts without a lookup; any other non-empty text is looked
// up as a host name; an empty text yields the local host's first address.
// 0 when nothing usable is found.
std::uint32_t resolveIpInt(const std::string& text);

std::string ipIntToString(std::uint32_t value);

// printf-style formatting into a 512-byte buffer; longer results are cut.
std::string formatString(const char* format, ...) ZQ_PRINTF_FORMAT(1, 2);

// The classic lenient conversion (inet_addr), in host order; all ones for a
// text it rejects. Traces an error line when the value is 0.
std::uint32_t getNetOctsInt(const std::string& text);

// The strict form: exactly four decimal octets of 0 to 255, without signs,
// blanks or leading zeros. Throws std::invalid_argument for anything else.
std::uint32_t parseDottedQuad(const std::string& text);
