// The text side of the Linux console dialog (app/dialog_manager_console.cpp):
// how the main dialog's controls and event list become lines on standard
// output. Pure functions and a change tracker, free of any I/O, so that the
// format can be tested on its own.
//
// Output format, one line per change:
//   "<Label> <text>"   a value field got a new text; <Label> is the field's
//                      label in the dialog, e.g. "Total CPU: 12". Fields start
//                      empty, so a first empty text prints nothing, and an
//                      unchanged text is never printed again.
//   "Event: <line>"    a new line of the event list.
//   "Event list cleared."
//   "CPU alarm: <text>"
//                      the service sent a CPU alarm; <text> says with what
//                      load, to which server endpoints and from which local
//                      addresses, e.g. "CPU alarm: 97% sent to
//                      192.168.1.10:34543 from 192.168.1.5".
// The CPU load changes nearly every second, so "Total CPU:" is printed at
// most once every kCpuLineInterval (the first value at once): these lines go
// to the journal or a log file for months.
// Texts pass through escapeControls first, since they can carry text received
// from the network.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "trace/control_escape.h"

namespace console {

// The dialog's label of value field controlId ("Total CPU:", "Cloud:", ...),
// or nullptr for a control that is not one of the value fields.
const char* itemLabel(int controlId);
// The label of list control listId ("Event:"), or nullptr.
const char* listLabel(int listId);

// The shortest time between two "Total CPU:" lines.
constexpr std::chrono::minutes kCpuLineInterval{10};

// The console's memory of what each control shows.
class ConsoleView {
public:
    using Clock = std::chrono::steady_clock;

    // Sets control id's text at time now. Returns the line to print, ending in
    // a line feed, when the text differs from what the control showed (every
    // control starts empty); nothing otherwise. The CPU field's line waits
    // until kCpuLineInterval has passed since its last one; the value then
    // shown is the one current at that time.
    std::optional<std::string> setItemText(int id, const std::string& text, Clock::time_point now);
    // The line to print when the service has sent more CPU alarms (alarms, a
    // running count) than the console last saw; lastAlarm tells of the last.
    std::optional<std::string> alarmLine(unsigned long alarms, const std::string& lastAlarm);
    // The line to print for a line added to list listId.
    static std::string listLine(int listId, const std::string& line);
    // The line to print when list listId is emptied.
    static std::string listClearedLine(int listId);
    // Forgets every control's text: all are empty again.
    void reset();

private:
    std::map<int, std::string> mTexts;
    std::optional<Clock::time_point> mCpuLineAt;
    unsigned long mAlarmsShown = 0;
};

// The Linux program's name, as the build names its binary: the start of
// every line that the agent writes on standard error about itself.
constexpr char kProgramName[] = "brindlemoor-watchdog";

// The line for standard error when the service could not start, with reason:
// "brindlemoor-watchdog: the watch dog could not start; ...".
std::string startFailureLine(const std::string& reason);

}  // namespace console
