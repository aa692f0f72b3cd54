// Whether this process sees loopback as its only network interface, as it
// does in a private network namespace of our own (Linux tests only).
#pragma once

#include <net/if.h>

#include <cstring>

inline bool onlyLoopback()
{
    struct if_nameindex* interfaces = if_nameindex();
    if (interfaces == nullptr)
        return false;
    bool onlyLo = true;
    for (struct if_nameindex* i = interfaces; i->if_index != 0 || i->if_name != nullptr; ++i)
        if (std::strcmp(i->if_name, "lo") != 0)
            onlyLo = false;
    if_freenameindex(interfaces);
    return onlyLo;
}
