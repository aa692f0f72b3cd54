#include "fakes/hidden_system_function.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include <windows.h>

#include "hostinfo/system_function.h"

namespace {

std::mutex gMutex;
std::map<std::string, int> gAsked;

const std::set<std::string>& hiddenNames()
{
    static const std::set<std::string> names = [] {
        std::set<std::string> read;
        const char* text = std::getenv("ZQ_HIDDEN_SYSTEM_FUNCTIONS");
        std::istringstream words(text != nullptr ? text : "");
        for (std::string word; words >> word;)
            read.insert(word);
        return read;
    }();
    return names;
}

}  // namespace

namespace hiddenfn {

bool hidden(const std::string& dllAndName)
{
    return hiddenNames().count(dllAndName) != 0;
}

int asked(const std::string& dllAndName)
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gAsked[dllAndName];
}

}  // namespace hiddenfn

namespace sysfn {

AnyFunction find(const char* dll, const char* name)
{
    std::string dllAndName = std::string(dll) + "!" + name;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        ++gAsked[dllAndName];
    }
    if (hiddenfn::hidden(dllAndName))
        return nullptr;
    HMODULE module = GetModuleHandleA(dll);
    return module == nullptr ? nullptr : reinterpret_cast<AnyFunction>(GetProcAddress(module, name));
}

}  // namespace sysfn
