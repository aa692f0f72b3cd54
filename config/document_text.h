// How the agent's documents are put together: plain concatenations of tags
// and values, nothing escaped, and one frame that keeps an exception while
// building from ever leaving the builder.
#pragma once

#include <string>
#include <string_view>

#include "trace/run_guarded.h"
#include "trace/trace.h"

namespace zq {

// Builds a text with build(text). An exception ends the text where it
// stopped: it is noted under where, and what was built so far is returned.
template <typename Build>
std::string buildText(const char* where, Build&& build)
{
    std::string text;
    runGuarded(where, [&] { build(text); });
    return text;
}

// buildText for a whole document, traced "==>  where" before and
// "<==  where" after a build that ran to its end.
template <typename Build>
std::string buildDocument(const char* where, Build&& build)
{
    trace("==>  %s\n", where);
    std::string text;
    if (runGuarded(where, [&] { build(text); }))
        trace("<==  %s\n", where);
    return text;
}

// How an element stands in its document.
enum class ElementLayout {
    line,      // <tag>value</tag> and a line end
    inlined,   // <tag>value</tag>
    openLine,  // <tag>, a line end, value</tag> and a line end
};

// Appends one element: its opening tag, its value as it stands, its closing tag.
inline void appendElement(std::string& text, std::string_view tag, std::string_view value,
                          ElementLayout layout = ElementLayout::line)
{
    text += '<';
    text += tag;
    text += layout == ElementLayout::openLine ? ">\n" : ">";
    text += value;
    text += "</";
    text += tag;
    text += layout == ElementLayout::inlined ? ">" : ">\n";
}

}  // namespace zq
