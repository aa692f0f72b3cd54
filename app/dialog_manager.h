// The few dialog-manager calls that the main dialog uses. The Windows build
// implements them with the real dialog manager (app/dialog_manager_win.cpp);
// the Linux build with a console stand-in (app/dialog_manager_console.cpp)
// that shows the same dialog on standard output: a panel on a terminal,
// lines elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace dlg {

using Handle = void*;
using Message = unsigned;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
// Returns whether the message was handled.
using Procedure = bool (*)(Handle dialog, Message message, WParam wParam, LParam lParam);

// The message numbers of the dialog manager.
constexpr Message kInitDialog = 0x0110;  // WM_INITDIALOG
constexpr Message kCommand = 0x0111;     // WM_COMMAND
constexpr Message kTimer = 0x0113;       // WM_TIMER

// Runs dialog templateId modally with procedure, with no owner window;
// returns the result given to endDialog.
std::intptr_t runModal(int templateId, Procedure procedure);
// A timer message to the dialog every milliseconds, until the dialog ends.
void startTimer(Handle dialog, unsigned id, unsigned milliseconds);
// Whether the dialog is drawn (a window, a panel on a terminal) rather than
// printed as a line per change (the journal, a pipe, a file).
bool drawn(Handle dialog);
void endDialog(Handle dialog, std::intptr_t result);
// Replaces the text of control id with an 8-bit text.
void setItemText(Handle dialog, int id, const std::string& text);
void addListLine(Handle dialog, int listId, const std::string& line);
void resetList(Handle dialog, int listId);
// Drops the oldest lines of list listId until at most keep remain. A console
// has printed its lines already and keeps none.
void trimList(Handle dialog, int listId, std::size_t keep);
// Loads icon iconId from the program's own module, shows it in control
// staticId and makes it the dialog's small icon.
void showProgramIcon(Handle dialog, int iconId, int staticId);

// The CPU alarms that the service has sent so far (a running count) and what
// the last one was. The window shows neither; the console prints a line for
// each new alarm where it prints lines (the journal, a pipe, a file).
void showAlarms(Handle dialog, unsigned long alarms, const std::string& lastAlarm);

// Tells the user that the service could not start, and why.
void reportStartFailure(const std::string& reason);

}  // namespace dlg
