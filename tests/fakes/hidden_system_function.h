// The run-time lookup of the system's functions, with the functions named
// in the environment variable ZQ_HIDDEN_SYSTEM_FUNCTIONS ("dll!Name",
// separated by blanks) hidden, as on a Windows that lacks them; the rest are
// found for real, or a test's stand-in where it gives one.
#pragma once

#include <string>

#include "hostinfo/system_function.h"

namespace hiddenfn {

// Whether "dll!Name" is hidden, and how often it was looked up.
bool hidden(const std::string& dllAndName);
int asked(const std::string& dllAndName);
// From now on the lookup finds function for "dll!Name" (unless it is hidden).
void standIn(const std::string& dllAndName, sysfn::AnyFunction function);

}  // namespace hiddenfn
