// The run-time lookup on Windows: the module handle of a DLL that the
// program imports from (so it is loaded, and from the system directory),
// and the export's address in it.
#include "hostinfo/system_function.h"

#include <windows.h>

namespace sysfn {

AnyFunction find(const char* dll, const char* name)
{
    HMODULE module = GetModuleHandleA(dll);
    if (module == nullptr)
        return nullptr;
    return reinterpret_cast<AnyFunction>(GetProcAddress(module, name));
}

}  // namespace sysfn
