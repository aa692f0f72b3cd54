#include "golden/golden.h"

#include <stdexcept>

namespace {

// {name, text} for each tests/golden/NAME.txt, written by the build.
const std::map<std::string, std::string> kTexts = {
#include "golden_texts.inc"
};

}  // namespace

std::string golden(const std::string& name, const std::map<std::string, std::string>& values)
{
    auto found = kTexts.find(name);
    if (found == kTexts.end())
        throw std::logic_error("no golden document " + name);
    const std::string& text = found->second;
    std::string result;
    std::string::size_type position = 0;
    for (;;) {
        std::string::size_type open = text.find('@', position);
        std::string::size_type close = open == std::string::npos ? open : text.find('@', open + 1);
        if (close == std::string::npos)
            return result + text.substr(position);
        auto value = values.find(text.substr(open + 1, close - open - 1));
        if (value == values.end())
            throw std::logic_error("golden document " + name + ": no value for " + text.substr(open, close - open + 1));
        result += text.substr(position, open - position) + value->second;
        position = close + 1;
    }
}
