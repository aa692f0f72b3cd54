// The pieces of the Linux system description that need no system call.
#pragma once

#include <string>

namespace osrelease {

// The value of PRETTY_NAME in the text of an os-release file, with its
// quoting undone; empty when the text does not set it. The file is a list of
// shell-style KEY=value assignments: values may be in double quotes (where a
// backslash escapes $, ", \ and `), in single quotes (taken literally) or bare
// (where a backslash escapes any character); lines starting with # are
// comments, and the last assignment counts.
std::string prettyName(const std::string& text);

// ", 64-bit" or ", 32-bit" for a machine name as uname gives it ("x86_64",
// "i686", "aarch64", "armv7l", ...); empty for one it does not know.
std::string bitnessSuffix(const std::string& machine);

// The description: the distribution's pretty name, or else the kernel's name
// and release ("Linux 6.1.0-18-amd64"), then the bitness suffix of the machine.
std::string compose(const std::string& prettyName, const std::string& sysname,
                    const std::string& release, const std::string& machine);

}  // namespace osrelease
