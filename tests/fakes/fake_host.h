// A scripted host: its name, its IPv4 addresses in lookup order, or a failing
// name query or lookup.
#pragma once

#include <string>
#include <vector>

namespace fakehost {

struct Host {
    bool nameFails = false;
    int nameError = 0;
    std::string name = "plant-pc";
    bool lookupFails = false;
    std::vector<std::string> addresses;  // dotted quads, in lookup order
    std::vector<std::string> interfaces;  // the up, non-loopback interfaces' addresses
};

void set(const Host& host);
Host get();
// Names that were looked up, in order.
std::vector<std::string> lookedUp();

}  // namespace fakehost
