// One line of text that names the operating system, for the documents, the
// status reply and the dialog.
#pragma once

#include <cstdint>
#include <string>

// The parts of a Windows version record that the description is made from.
struct OsVersionRecord {
    std::uint32_t platformId = 0;        // 2 = VER_PLATFORM_WIN32_NT
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    std::uint8_t productType = 0;        // 1 = VER_NT_WORKSTATION
    std::uint16_t suiteMask = 0;
    std::uint16_t processorArchitecture = 0;  // 0 x86, 6 Itanium, 9 x64
    std::uint32_t productCode = 0;       // GetProductInfo, asked for major version 6 only
    int serverR2 = 0;                    // GetSystemMetrics(SM_SERVERR2), asked for 5.2 only
};

// The decision tables: a pure function of the record (it prints a line to
// standard output for a version it does not describe, and returns "").
std::string describeWindowsVersion(const OsVersionRecord& record);

// The description of the running system, read afresh on every call:
// Windows reads its version record; Linux names its distribution.
std::string buildOsDescription();
