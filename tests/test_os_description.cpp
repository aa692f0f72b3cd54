// The decision tables that turn a Windows version record into a description.
#include <gtest/gtest.h>

#include <string>

#include "fakes/recording_debug_output.h"
#include "hostinfo/os_description.h"

namespace {

constexpr std::uint8_t kWorkstation = 1;
constexpr std::uint8_t kServer = 3;
constexpr std::uint8_t kDomainController = 2;

OsVersionRecord record(std::uint32_t major, std::uint32_t minor, std::uint8_t productType,
                       std::uint16_t architecture, std::uint16_t suite = 0,
                       std::uint32_t productCode = 0, int serverR2 = 0)
{
    OsVersionRecord r;
    r.platformId = 2;
    r.majorVersion = major;
    r.minorVersion = minor;
    r.productType = productType;
    r.processorArchitecture = architecture;
    r.suiteMask = suite;
    r.productCode = productCode;
    r.serverR2 = serverR2;
    return r;
}

// The description, with a check that nothing was printed on the way.
std::string describe(const OsVersionRecord& r)
{
    recording::takeDiagnostics();
    testing::internal::CaptureStdout();
    std::string text = describeWindowsVersion(r);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << text;
    EXPECT_EQ(recording::takeDiagnostics(), "") << text;
    return text;
}

TEST(DescribeWindowsVersion, Version6NamesProductEditionAndBitness)
{
    EXPECT_EQ(describe(record(6, 1, kWorkstation, 9, 0, 1)),
              "Microsoft   Windows 7   Ultimate Edition, 64-bit");
    EXPECT_EQ(describe(record(6, 2, kWorkstation, 9, 0, 48)), "Microsoft   Professional, 64-bit");
    EXPECT_EQ(describe(record(6, 3, kServer, 0, 0, 7)), "Microsoft   Standard Edition, 32-bit");
    EXPECT_EQ(describe(record(6, 0, kWorkstation, 0, 0, 3)),
              "Microsoft   Windows Vista   Home Premium Edition, 32-bit");
    EXPECT_EQ(describe(record(6, 0, kServer, 9, 0, 8)),
              "Microsoft   Windows Server 2008   Datacenter Edition, 64-bit");
    EXPECT_EQ(describe(record(6, 0, kDomainController, 6, 0, 15)),
              "Microsoft   Windows Server 2008   Enterprise Edition for Itanium-based Systems");
    EXPECT_EQ(describe(record(6, 1, kServer, 9, 0, 10)),
              "Microsoft   Windows Server 2008 R2   Enterprise Edition, 64-bit");
    // Suite bits and the R2 flag mean nothing to version 6.
    EXPECT_EQ(describe(record(6, 1, kWorkstation, 0, 0x0200, 2, 1)),
              "Microsoft   Windows 7   Home Basic Edition, 32-bit");

    const struct {
        std::uint32_t code;
        const char* edition;
    } editions[] = {
        {1, "  Ultimate Edition"},
        {2, "  Home Basic Edition"},
        {3, "  Home Premium Edition"},
        {4, "  Enterprise Edition"},
        {6, "  Business Edition"},
        {7, "  Standard Edition"},
        {8, "  Datacenter Edition"},
        {9, "  Small Business Server"},
        {10, "  Enterprise Edition"},
        {11, "  Starter Edition"},
        {12, "  Datacenter Edition (core installation)"},
        {13, "  Standard Edition (core installation)"},
        {14, "  Enterprise Edition (core installation)"},
        {15, "  Enterprise Edition for Itanium-based Systems"},
        {17, "  Web Server Edition"},
        {18, "  Cluster Server Edition"},
        {25, "  Small Business Server Premium Edition"},
        {48, "  Professional"},
    };
    for (const auto& e : editions) {
        EXPECT_EQ(describe(record(6, 1, kWorkstation, 9, 0, e.code)),
                  std::string("Microsoft   Windows 7 ") + e.edition + ", 64-bit")
            << "code " << e.code;
    }
}

TEST(DescribeWindowsVersion, UnlistedProductCodesAddNothing)
{
    std::uint32_t unlisted[] = {0, 5, 16, 49, 100, 0xABCDABCDu};
    for (std::uint32_t code : unlisted) {
        EXPECT_EQ(describe(record(6, 1, kWorkstation, 9, 0, code)),
                  "Microsoft   Windows 7 , 64-bit")
            << "code " << code;
    }
    for (std::uint32_t code = 19; code <= 47; ++code) {
        if (code == 25)
            continue;  // Small Business Server Premium
        EXPECT_EQ(describe(record(6, 0, kServer, 0, 0, code)),
                  "Microsoft   Windows Server 2008 , 32-bit")
            << "code " << code;
    }
}

TEST(DescribeWindowsVersion, LaterVersionsGetOnlyTheBitness)
{
    EXPECT_EQ(describe(record(10, 0, kWorkstation, 9)), "Microsoft , 64-bit");
    EXPECT_EQ(describe(record(10, 0, kWorkstation, 0)), "Microsoft , 32-bit");
    EXPECT_EQ(describe(record(10, 0, kServer, 12)), "Microsoft ");  // ARM64: no suffix
    EXPECT_EQ(describe(record(10, 0, kWorkstation, 6)), "Microsoft ");
    // The product code is asked for version 6 only; elsewhere it is ignored.
    EXPECT_EQ(describe(record(10, 0, kWorkstation, 9, 0, 48)), "Microsoft , 64-bit");
    EXPECT_EQ(describe(record(7, 5, kServer, 9, 0x0080, 1, 1)), "Microsoft , 64-bit");
    EXPECT_EQ(describe(record(6, 2, kWorkstation, 6)), "Microsoft ");
}

TEST(DescribeWindowsVersion, Version52ProductsAndServerEditions)
{
    // The product: the first condition that holds.
    EXPECT_EQ(describe(record(5, 2, kServer, 0, 0, 0, 1)),
              "Microsoft   Windows Server 2003 R2,   Standard Edition");
    EXPECT_EQ(describe(record(5, 2, kWorkstation, 9)),
              "Microsoft   Windows XP Professional x64 Edition");
    EXPECT_EQ(describe(record(5, 2, kServer, 6)), "Microsoft   Windows Server 2003, ");
    EXPECT_EQ(describe(record(5, 2, kServer, 0, 0x2000, 0, 1)),
              "Microsoft   Windows Server 2003 R2,   Standard Edition");
    EXPECT_EQ(describe(record(5, 2, kServer, 0, 0x2000 | 0x8000)),
              "Microsoft   Windows Storage Server 2003  Standard Edition");
    EXPECT_EQ(describe(record(5, 2, kServer, 0, 0x8000)),
              "Microsoft   Windows Home Server  Standard Edition");
    EXPECT_EQ(describe(record(5, 2, kWorkstation, 9, 0x8000)), "Microsoft   Windows Home Server");
    EXPECT_EQ(describe(record(5, 2, kWorkstation, 0)), "Microsoft   Windows Server 2003, ");
    EXPECT_EQ(describe(record(5, 2, kWorkstation, 9, 0x0080, 0, 1)),
              "Microsoft   Windows Server 2003 R2, ");
    // Version 5 never gets a bitness suffix, and ignores the product code.
    EXPECT_EQ(describe(record(5, 2, kServer, 9, 0, 48)),
              "Microsoft   Windows Server 2003,   Standard x64 Edition");

    // The server edition by architecture and suite, first matching row.
    const struct {
        std::uint16_t architecture;
        std::uint16_t suite;
        const char* edition;
    } editions[] = {
        {6, 0x0080, "  Datacenter Edition for Itanium-based Systems"},
        {6, 0x0080 | 0x0002, "  Datacenter Edition for Itanium-based Systems"},
        {6, 0x0002, "  Enterprise Edition for Itanium-based Systems"},
        {6, 0x4000 | 0x0400, ""},
        {9, 0x0080, "  Datacenter x64 Edition"},
        {9, 0x0080 | 0x0002, "  Datacenter x64 Edition"},
        {9, 0x0002, "  Enterprise x64 Edition"},
        {9, 0x4000 | 0x0400, "  Standard x64 Edition"},
        {0, 0x4000 | 0x0080 | 0x0002 | 0x0400, "  Compute Cluster Edition"},
        {0, 0x0080 | 0x0002 | 0x0400, "  Datacenter Edition"},
        {0, 0x0002 | 0x0400, "  Enterprise Edition"},
        {0, 0x0400, "  Web Edition"},
        {0, 0x0200, "  Standard Edition"},
        {12, 0x0080, "  Datacenter Edition"},
        {5, 0, "  Standard Edition"},
    };
    for (const auto& e : editions) {
        EXPECT_EQ(describe(record(5, 2, kServer, e.architecture, e.suite)),
                  std::string("Microsoft   Windows Server 2003, ") + e.edition)
            << "architecture " << e.architecture << " suite " << std::hex << e.suite;
    }
}

TEST(DescribeWindowsVersion, Versions51And50)
{
    EXPECT_EQ(describe(record(5, 1, kWorkstation, 0, 0x0200)),
              "Microsoft   Windows XP   Home Edition");
    EXPECT_EQ(describe(record(5, 1, kWorkstation, 9)), "Microsoft   Windows XP   Professional");
    EXPECT_EQ(describe(record(5, 1, kServer, 0, 0x0080, 1, 1)),
              "Microsoft   Windows XP   Professional");

    EXPECT_EQ(describe(record(5, 0, kWorkstation, 0, 0x0080)),
              "Microsoft   Windows 2000   Professional");
    EXPECT_EQ(describe(record(5, 0, kServer, 0, 0x0080 | 0x0002)),
              "Microsoft   Windows 2000   Datacenter Server");
    EXPECT_EQ(describe(record(5, 0, kServer, 0, 0x0002)),
              "Microsoft   Windows 2000   Advanced Server");
    EXPECT_EQ(describe(record(5, 0, kDomainController, 9, 0x0400)),
              "Microsoft   Windows 2000   Server");

    // A later minor version of 5 is named by nothing.
    EXPECT_EQ(describe(record(5, 3, kServer, 9, 0x0080, 1, 1)), "Microsoft ");
}

TEST(DescribeWindowsVersion, UnsupportedVersionsPrintALineAndGiveNothing)
{
    const char* line = "This sample does not support this version of Windows.\n";
    OsVersionRecord cases[] = {
        record(4, 0, kWorkstation, 0),
        record(3, 51, kServer, 0),
        record(0, 0, kWorkstation, 9),
        record(6, 1, kWorkstation, 9, 0, 1),  // with another platform below
        record(10, 0, kWorkstation, 9),
    };
    cases[3].platformId = 1;
    cases[4].platformId = 0;
    for (const OsVersionRecord& r : cases) {
        recording::takeDiagnostics();
        testing::internal::CaptureStdout();
        std::string text = describeWindowsVersion(r);
        // On standard error beside the trace; standard output is the console view's.
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(recording::takeDiagnostics(), line)
            << r.platformId << " " << r.majorVersion << "." << r.minorVersion;
        EXPECT_EQ(text, "");
    }
}

#ifdef _WIN32
// The running Windows (or its emulation) is described from its own record.
TEST(BuildOsDescription, DescribesTheRunningWindows)
{
    std::string text = buildOsDescription();
    EXPECT_EQ(text.rfind("Microsoft ", 0), 0u) << text;
    EXPECT_EQ(buildOsDescription(), text) << "every call reads the same system";
}
#endif

}  // namespace
