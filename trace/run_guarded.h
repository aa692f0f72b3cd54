// The failure frame of every handler and builder that must not let an
// exception escape: the failure is noted (trace and event log) and the caller
// goes on.
#pragma once

#include "trace/trace.h"

namespace zq {

// Runs work(); an exception it throws is noted under where (trace and event
// log) and goes no further. Returns whether work() ran to its end.
template <typename Work>
bool runGuarded(const char* where, Work&& work)
{
    try {
        work();
        return true;
    } catch (...) {
        noteException(where);
        return false;
    }
}

}  // namespace zq
