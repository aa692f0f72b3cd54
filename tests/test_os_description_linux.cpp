// The Linux description: reading os-release texts, the bitness of a machine,
// and the description of this machine.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include <sys/utsname.h>

#include "hostinfo/os_description.h"
#include "hostinfo/os_release.h"

namespace {

using osrelease::bitnessSuffix;
using osrelease::compose;
using osrelease::prettyName;

TEST(OsRelease, PrettyNameUndoesShellQuoting)
{
    EXPECT_EQ(prettyName("NAME=\"Debian GNU/Linux\"\n"
                         "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                         "ID=debian\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(prettyName("PRETTY_NAME='Single \"quoted\" \\n'\n"), "Single \"quoted\" \\n");
    EXPECT_EQ(prettyName("PRETTY_NAME=Plain\n"), "Plain");
    EXPECT_EQ(prettyName("PRETTY_NAME=\"Say \\\"hi\\\" for \\$5, a \\\\ and a \\`\"\n"),
              "Say \"hi\" for $5, a \\ and a `");
    // In double quotes other backslashes stay; bare, a backslash escapes anything.
    EXPECT_EQ(prettyName("PRETTY_NAME=\"C:\\temp\"\n"), "C:\\temp");
    EXPECT_EQ(prettyName("PRETTY_NAME=Two\\ words\\!\n"), "Two words!");
    // Quoted pieces run together as in a shell.
    EXPECT_EQ(prettyName("PRETTY_NAME=\"Alpha \"'Beta '\"Gamma\"\n"), "Alpha Beta Gamma");
    // Blanks around the line and a carriage return at its end do not count.
    EXPECT_EQ(prettyName("  PRETTY_NAME=\"Spaced OS\"  \r\n"), "Spaced OS");
    // The last assignment counts; comments and similar keys do not.
    EXPECT_EQ(prettyName("PRETTY_NAME=\"First\"\nPRETTY_NAME=\"Second\"\n"), "Second");
    EXPECT_EQ(prettyName("# PRETTY_NAME=\"Commented\"\nPRETTY_NAME=\"Real\"\n"), "Real");
    EXPECT_EQ(prettyName("NOT_PRETTY_NAME=\"Other\"\nXPRETTY_NAME=\"Other\"\n"), "");
    EXPECT_EQ(prettyName("PRETTY_NAMES=\"Other\"\n"), "");
    // Absent, empty, unterminated, no final line end.
    EXPECT_EQ(prettyName(""), "");
    EXPECT_EQ(prettyName("NAME=\"Only a name\"\n"), "");
    EXPECT_EQ(prettyName("PRETTY_NAME=\"\"\n"), "");
    EXPECT_EQ(prettyName("PRETTY_NAME=\"Unterminated OS\n"), "Unterminated OS");
    EXPECT_EQ(prettyName("ID=x\nPRETTY_NAME=\"Last line\""), "Last line");
}

TEST(OsRelease, BitnessFollowsTheMachine)
{
    for (const char* machine : {"x86_64", "aarch64", "aarch64_be", "arm64", "ppc64", "ppc64le",
                                "riscv64", "mips64", "sparc64", "s390x", "loongarch64", "ia64",
                                "alpha"}) {
        EXPECT_EQ(bitnessSuffix(machine), ", 64-bit") << machine;
    }
    for (const char* machine : {"i386", "i486", "i586", "i686", "armv7l", "armv6l", "armv8l",
                                "arm", "ppc", "s390", "riscv32", "mips", "mipsel", "sparc",
                                "m68k"}) {
        EXPECT_EQ(bitnessSuffix(machine), ", 32-bit") << machine;
    }
    for (const char* machine : {"", "unknown", "i786", "i86", "x86", "quantum"})
        EXPECT_EQ(bitnessSuffix(machine), "") << machine;
}

TEST(OsRelease, ComposeNamesDistributionOrKernel)
{
    EXPECT_EQ(compose("Debian GNU/Linux 12 (bookworm)", "Linux", "6.1.0-18-amd64", "x86_64"),
              "Debian GNU/Linux 12 (bookworm), 64-bit");
    EXPECT_EQ(compose("", "Linux", "6.1.0-18-amd64", "x86_64"), "Linux 6.1.0-18-amd64, 64-bit");
    EXPECT_EQ(compose("", "Linux", "5.10.0", "armv7l"), "Linux 5.10.0, 32-bit");
    EXPECT_EQ(compose("Some OS", "Linux", "5.10.0", "quantum"), "Some OS");
    EXPECT_EQ(compose("", "Linux", "", "i686"), "Linux, 32-bit");
    EXPECT_EQ(compose("", "", "", "x86_64"), "");
}

std::string fileText(const char* path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(BuildOsDescription, DescribesThisMachine)
{
    struct utsname names;
    ASSERT_EQ(uname(&names), 0);
    std::string description = buildOsDescription();
    ASSERT_FALSE(description.empty());
    EXPECT_EQ(description.find('"'), std::string::npos) << description;

    // The distribution's name if it gives one, else the kernel's, then the bitness.
    std::string path = std::ifstream("/etc/os-release") ? "/etc/os-release" : "/usr/lib/os-release";
    std::string pretty = prettyName(fileText(path.c_str()));
    std::string expected = pretty.empty()
                               ? std::string(names.sysname) + " " + names.release
                               : pretty;
    expected += bitnessSuffix(names.machine);
    EXPECT_EQ(description, expected);
    EXPECT_EQ(buildOsDescription(), description) << "every call reads the same system";
}

}  // namespace
