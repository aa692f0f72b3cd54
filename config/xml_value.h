// Reads element values out of configuration texts by plain substring search:
// a value runs from the end of its opening tag to the next "</" (or to the end
// of the text). No parser, no nesting, no entity decoding.
#pragma once

#include <string>

// Searches tag at or after position. Not found: position becomes npos and the
// result is empty. Found at f: returns the value and moves position to
// f + len(tag) + len(value) + len(tag) + 1, just past the closing tag.
std::string getXmlValue(const std::string& tag, const std::string& text, std::string::size_type& position);

// The first element's value read as atoi does; 0 when absent.
int getXmlIntValue(const std::string& tag, const std::string& text);

// The first element's value; empty when absent.
std::string getXmlStringValue(const std::string& tag, const std::string& text);
