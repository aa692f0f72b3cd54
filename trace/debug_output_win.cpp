// Debugger output on Windows: OutputDebugStringA, which a debugger or a
// debug-output viewer shows. The other diagnostics go to standard error,
// which a program started from a console or with redirected handles has.
#include "trace/trace.h"

#include <cstdio>

#include <windows.h>

bool debugOutputOn()
{
    return true;
}

void debugOutput(const char* text)
{
    OutputDebugStringA(text);
}

void diagnosticOutput(const char* data, std::size_t length)
{
    std::fwrite(data, 1, length, stderr);
    std::fflush(stderr);
}
