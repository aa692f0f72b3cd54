// The operating-system description on Linux: the distribution's name from
// os-release, or the kernel's name and release, with the machine's bitness.
// This file reads the system; hostinfo/os_release.cpp makes the line.
#include "hostinfo/os_description.h"
#include "hostinfo/os_release.h"

#include <fstream>
#include <sstream>

#include <sys/utsname.h>

namespace {

bool readFile(const char* path, std::string& text)
{
    std::ifstream file(path);
    if (!file)
        return false;
    std::ostringstream contents;
    contents << file.rdbuf();
    text = contents.str();
    return true;
}

}  // namespace

std::string buildOsDescription()
{
    std::string pretty;
    std::string text;
    if (readFile("/etc/os-release", text) || readFile("/usr/lib/os-release", text))
        pretty = osrelease::prettyName(text);

    struct utsname names;
    if (::uname(&names) != 0)
        return osrelease::compose(pretty, "", "", "");
    return osrelease::compose(pretty, names.sysname, names.release, names.machine);
}
