// Debugger output on Windows: OutputDebugStringA, which a debugger or a
// debug-output viewer shows.
#include "app/trace.h"

#include <windows.h>

void debugOutput(const char* text)
{
    OutputDebugStringA(text);
}
