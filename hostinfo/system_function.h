// The functions of a newer Windows, looked up by name at run time. The agent
// is built for the oldest Windows it runs on (XP SP3 on x86, Server 2003 SP2
// and XP x64 on x64), whose loader refuses a program that imports a function
// its DLLs lack; where a later Windows has something better, the agent asks
// for it here and falls back to what the oldest one has when it is absent.
//
// A seam of its own (system_function_win.cpp in the agent): a test links a
// stand-in that reports chosen functions absent, as on the oldest Windows.
#pragma once

namespace sysfn {

// A function of any type; the caller casts it to the one it asked for.
using AnyFunction = void (*)();

// The function `name` of the system DLL `dll` ("kernel32"), which the
// program already has loaded; null where this Windows has no such function.
AnyFunction find(const char* dll, const char* name);

template <class Function>
Function find(const char* dll, const char* name)
{
    return reinterpret_cast<Function>(find(dll, name));
}

}  // namespace sysfn
