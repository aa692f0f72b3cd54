// Turns a Windows version record into one line such as
// "Microsoft   Windows 7   Ultimate Edition, 64-bit". Every piece carries its
// own blanks, so the pieces are simply run together. Pure but for the one
// diagnostic line for a version it does not describe.
#include "hostinfo/os_description.h"

#include "trace/trace.h"

#include <initializer_list>

namespace {

constexpr std::uint32_t kPlatformWin32Nt = 2;  // VER_PLATFORM_WIN32_NT
constexpr std::uint8_t kWorkstation = 1;       // VER_NT_WORKSTATION

// The bits of the suite mask that the tables test (VER_SUITE_*).
enum SuiteBit : std::uint16_t {
    kSuiteEnterprise = 0x0002,
    kSuiteDatacenter = 0x0080,
    kSuitePersonal = 0x0200,
    kSuiteBlade = 0x0400,
    kSuiteStorageServer = 0x2000,
    kSuiteComputeServer = 0x4000,
    kSuiteHomeServer = 0x8000,
};

// The processor architectures that the tables name (PROCESSOR_ARCHITECTURE_*).
enum Architecture : std::uint16_t { kArchX86 = 0, kArchItanium = 6, kArchX64 = 9 };

// The edition that GetProductInfo's product type code names; codes not
// listed add nothing.
const char* editionOf(std::uint32_t productCode)
{
    switch (productCode) {
    case 1: return "  Ultimate Edition";
    case 2: return "  Home Basic Edition";
    case 3: return "  Home Premium Edition";
    case 4: return "  Enterprise Edition";
    case 6: return "  Business Edition";
    case 7: return "  Standard Edition";
    case 8: return "  Datacenter Edition";
    case 9: return "  Small Business Server";
    case 10: return "  Enterprise Edition";
    case 11: return "  Starter Edition";
    case 12: return "  Datacenter Edition (core installation)";
    case 13: return "  Standard Edition (core installation)";
    case 14: return "  Enterprise Edition (core installation)";
    case 15: return "  Enterprise Edition for Itanium-based Systems";
    case 17: return "  Web Server Edition";
    case 18: return "  Cluster Server Edition";
    case 25: return "  Small Business Server Premium Edition";
    case 48: return "  Professional";
    default: return "";
    }
}

// One row of a table of editions: the suite bit that names it.
struct SuiteEdition {
    SuiteBit bit;
    const char* edition;
};

// The edition of the first row whose bit the suite mask holds, or otherwise.
const char* bySuite(std::uint16_t suiteMask, std::initializer_list<SuiteEdition> rows, const char* otherwise)
{
    for (const SuiteEdition& row : rows) {
        if (suiteMask & row.bit)
            return row.edition;
    }
    return otherwise;
}

// Version 5.2: the product, then the server edition.
void appendVersion52(const OsVersionRecord& r, std::string& text)
{
    bool workstation = r.productType == kWorkstation;
    if (r.serverR2 != 0)
        text += "  Windows Server 2003 R2, ";
    else if (r.suiteMask & kSuiteStorageServer)
        text += "  Windows Storage Server 2003";
    else if (r.suiteMask & kSuiteHomeServer)
        text += "  Windows Home Server";
    else if (workstation && r.processorArchitecture == kArchX64)
        text += "  Windows XP Professional x64 Edition";
    else
        text += "  Windows Server 2003, ";

    if (workstation)
        return;
    if (r.processorArchitecture == kArchItanium) {
        text += bySuite(r.suiteMask,
                        {{kSuiteDatacenter, "  Datacenter Edition for Itanium-based Systems"},
                         {kSuiteEnterprise, "  Enterprise Edition for Itanium-based Systems"}},
                        "");
    } else if (r.processorArchitecture == kArchX64) {
        text += bySuite(r.suiteMask,
                        {{kSuiteDatacenter, "  Datacenter x64 Edition"},
                         {kSuiteEnterprise, "  Enterprise x64 Edition"}},
                        "  Standard x64 Edition");
    } else {
        text += bySuite(r.suiteMask,
                        {{kSuiteComputeServer, "  Compute Cluster Edition"},
                         {kSuiteDatacenter, "  Datacenter Edition"},
                         {kSuiteEnterprise, "  Enterprise Edition"},
                         {kSuiteBlade, "  Web Edition"}},
                        "  Standard Edition");
    }
}

}  // namespace

std::string describeWindowsVersion(const OsVersionRecord& r)
{
    if (r.platformId != kPlatformWin32Nt || r.majorVersion <= 4) {
        diagnosticOutput("This sample does not support this version of Windows.\n");
        return "";
    }

    bool workstation = r.productType == kWorkstation;
    std::string text = "Microsoft ";

    if (r.majorVersion == 6) {
        if (r.minorVersion == 0)
            text += workstation ? "  Windows Vista " : "  Windows Server 2008 ";
        else if (r.minorVersion == 1)
            text += workstation ? "  Windows 7 " : "  Windows Server 2008 R2 ";
        text += editionOf(r.productCode);
    }

    if (r.majorVersion == 5 && r.minorVersion == 2) {
        appendVersion52(r, text);
    } else if (r.majorVersion == 5 && r.minorVersion == 1) {
        text += "  Windows XP ";
        text += (r.suiteMask & kSuitePersonal) ? "  Home Edition" : "  Professional";
    } else if (r.majorVersion == 5 && r.minorVersion == 0) {
        text += "  Windows 2000 ";
        text += workstation ? "  Professional"
                            : bySuite(r.suiteMask,
                                      {{kSuiteDatacenter, "  Datacenter Server"},
                                       {kSuiteEnterprise, "  Advanced Server"}},
                                      "  Server");
    }

    if (r.majorVersion >= 6) {
        if (r.processorArchitecture == kArchX64)
            text += ", 64-bit";
        else if (r.processorArchitecture == kArchX86)
            text += ", 32-bit";
    }
    return text;
}
