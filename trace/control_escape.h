// How a text that may carry bytes received from the network is shown on a
// terminal: escaped so that it can neither break a line nor drive the
// terminal. The console's lines and panel and the datagram echo use it.
#pragma once

#include <string>

namespace console {

// Shows every byte outside printable ASCII as an escape, so that a received
// text can neither break a line nor drive the terminal (0x9b alone, or U+009B
// in UTF-8, is a control sequence introducer on many terminals):
//   line feed "\n", carriage return "\r";
//   every other byte below 0x20 but the tab, 0x7f and every byte from 0x80 up
//   as "\xHH" (two lower-case hex digits, e.g. "\x1b", "\xc3");
//   the backslash itself as "\\", so that an escape in the output is never
//   mistaken for the same four characters received;
//   tab and printable ASCII unchanged.
// The protocol is ASCII; a local text in UTF-8 (a distribution's name in the
// operating-system description) shows escaped too.
std::string escapeControls(const std::string& text);

}  // namespace console
