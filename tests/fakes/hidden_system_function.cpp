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
std::map<std::string, sysfn::AnyFunction> gStandIns;

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

void standIn(const std::string& dllAndName, sysfn::AnyFunction function)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gStandIns[dllAndName] = function;
}

}  // namespace hiddenfn

namespace sysfn {

AnyFunction find(const char* dll, const char* name)
{
    std::string dllAndName = std::string(dll) + "!" + name;
    if (hiddenfn::hidden(dllAndName)) {
        std::lock_guard<std::mutex> lock(gMutex);
        ++gAsked[dllAndName];
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(gMutex);
        ++gAsked[dllAndName];
        auto standIn = gStandIns.find(dllAndName);
        if (standIn != gStandIns.end())
            return standIn->second;
    }
    HMODULE module = GetModuleHandleA(dll);
    return module == nullptr ? nullptr : reinterpret_cast<AnyFunction>(GetProcAddress(module, name));
}

}  // namespace sysfn
