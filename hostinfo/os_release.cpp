// The pure pieces of the Linux system description (hostinfo/os_release.h):
// os-release parsing and the composition of the line, free of any system call.
#include "hostinfo/os_release.h"

#include <sstream>

namespace osrelease {

namespace {

// Undoes the shell quoting of one value (the text after "KEY=").
std::string unquote(const std::string& raw)
{
    std::string value;
    std::size_t i = 0;
    const std::size_t n = raw.size();
    while (i < n) {
        char c = raw[i];
        if (c == '"') {
            ++i;
            while (i < n && raw[i] != '"') {
                if (raw[i] == '\\' && i + 1 < n) {
                    char escaped = raw[i + 1];
                    if (escaped == '"' || escaped == '\\' || escaped == '$' || escaped == '`') {
                        value += escaped;
                        i += 2;
                        continue;
                    }
                }
                value += raw[i];
                ++i;
            }
            ++i;  // the closing quote, if there is one
        } else if (c == '\'') {
            ++i;
            while (i < n && raw[i] != '\'') {
                value += raw[i];
                ++i;
            }
            ++i;
        } else if (c == '\\' && i + 1 < n) {
            value += raw[i + 1];
            i += 2;
        } else {
            value += c;
            ++i;
        }
    }
    return value;
}

std::string trimmed(const std::string& text)
{
    const char* blanks = " \t\r";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return "";
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

std::string prettyName(const std::string& text)
{
    const std::string key = "PRETTY_NAME=";
    std::istringstream lines(text);
    std::string line;
    std::string name;
    while (std::getline(lines, line)) {
        line = trimmed(line);
        if (line.compare(0, key.size(), key) == 0)
            name = unquote(line.substr(key.size()));
    }
    return name;
}

std::string bitnessSuffix(const std::string& machine)
{
    if (machine.empty())
        return "";
    // x86_64, aarch64, arm64, ppc64(le), riscv64, mips64, sparc64, ia64, ...
    if (machine.find("64") != std::string::npos || machine == "s390x" || machine == "alpha")
        return ", 64-bit";
    bool x86 = machine.size() == 4 && machine[0] == 'i' && machine[1] >= '3' &&
               machine[1] <= '6' && machine.compare(2, 2, "86") == 0;
    if (x86)
        return ", 32-bit";
    for (const char* prefix : {"arm", "ppc", "powerpc", "s390", "riscv32", "mips", "sparc",
                               "m68k", "hppa", "parisc", "sh4", "microblaze", "or1k"}) {
        if (startsWith(machine, prefix))
            return ", 32-bit";
    }
    return "";
}

std::string compose(const std::string& prettyName, const std::string& sysname,
                    const std::string& release, const std::string& machine)
{
    std::string text = prettyName;
    if (text.empty()) {
        text = sysname;
        if (!release.empty())
            text += (text.empty() ? "" : " ") + release;
    }
    if (text.empty())
        return "";
    return text + bitnessSuffix(machine);
}

}  // namespace osrelease
