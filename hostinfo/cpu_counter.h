// The platform's total-processor-time counter, as four query operations: open,
// add the "% Processor Time" counter of all processors, collect a sample, and
// read the busy share between the last two collections in percent.
//
// One source file per platform implements it (PDH on Windows, /proc/stat on
// Linux); tests link a scripted counter in its place. Statuses are 0 on
// success and PDH-style codes otherwise.
#pragma once

#include <cstdint>

namespace cpucounter {

using Status = std::uint32_t;

constexpr Status kInvalidHandle = 0xC0000BBCu;  // PDH_INVALID_HANDLE
constexpr Status kNoData = 0x800007D5u;         // PDH_NO_DATA

Status openQuery();
void addTotalProcessorCounter();  // its status is not looked at
Status collect();
// The value is the busy share in percent, not capped at 100.
Status formattedValue(double& value);

}  // namespace cpucounter
