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

// OutputDebugStringA hands each text over at once; there is nothing to wait for.
TraceBatch::TraceBatch() = default;
TraceBatch::~TraceBatch() = default;

void diagnosticOutput(const char* data, std::size_t length)
{
    std::fwrite(data, 1, length, stderr);
    std::fflush(stderr);
}
