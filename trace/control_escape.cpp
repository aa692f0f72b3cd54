#include "trace/control_escape.h"

namespace console {

std::string escapeControls(const std::string& text, Pass pass)
{
    static const char kHex[] = "0123456789abcdef";
    const bool passTab = pass != Pass::Nothing;
    const bool passLineFeed = pass == Pass::LineFeedAndTab;
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if ((byte == '\t' && passTab) || (byte == '\n' && passLineFeed)) {
            shown += c;
        } else if (byte == '\n') {
            shown += "\\n";
        } else if (byte == '\r') {
            shown += "\\r";
        } else if (byte == '\t') {
            shown += "\\t";
        } else if (byte == '\\') {
            shown += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7f) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0x0f];
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace console
