// How a text that may carry bytes received from the network is shown on a
// terminal: escaped so that it can neither break a line nor drive the
// terminal. The console's lines and panel, the datagram echo and the trace on
// a terminal use it.
#pragma once

#include <string>

namespace console {

// The bytes below 0x20 that a use lets through unescaped.
enum class Pass {
    Tab,             // a line of its own: the terminal expands the tab, harmlessly
    Nothing,         // a panel row: a tab would widen it past what was counted
    LineFeedAndTab,  // the trace: its texts end their own lines
};

// Shows every byte outside printable ASCII as an escape, so that a received
// text can neither break a line nor drive the terminal (0x9b alone, or U+009B
// in UTF-8, is a control sequence introducer on many terminals):
//   line feed "\n", carriage return "\r", tab "\t";
//   every other byte below 0x20, 0x7f and every byte from 0x80 up as "\xHH"
//   (two lower-case hex digits, e.g. "\x1b", "\xc3");
//   the backslash itself as "\\", so that an escape in the output is never
//   mistaken for the same four characters received;
//   printable ASCII, and what pass lets through, unchanged.
// The protocol is ASCII; a local text in UTF-8 (a distribution's name in the
// operating-system description) shows escaped too.
std::string escapeControls(const std::string& text, Pass pass = Pass::Tab);

}  // namespace console
