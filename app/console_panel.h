// The terminal side of the Linux console dialog (app/dialog_manager_console.cpp):
// where standard output is a terminal, the main dialog is one panel that is
// redrawn in place, as the window is, instead of a stream of lines.
//
// The panel, top to bottom:
//   the program's name and version ("Brindlemoor Win32 Watch Dog 1.0.0.4");
//   the seven value fields, one a row, each as "<Label> <text>" with the
//   dialog's labels (console::itemLabel), in the order the refresh sets them;
//   "Events:" and below it the newest event-list lines that fit, newest last.
// Every row is cut to the terminal's width; rows that do not fit its height
// are left out, the events first. Every text passes through escapeControls,
// since fields and events carry text received from the network, with its
// tabs too, so that a row is as wide on the screen as it was counted.
//
// Pure functions and a small store, free of any I/O, so that a frame can be
// tested without a terminal.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>

namespace console {

// The value fields in the panel's order.
constexpr int kPanelFieldCount = 7;
extern const int kPanelFields[kPanelFieldCount];

// The panel's first row: the program's name and version.
std::string panelTitle();

// Switches the terminal to its alternate screen and hides the cursor, so
// that the panel leaves the user's screen as it was (kPanelLeave puts both
// back).
extern const char kPanelEnter[];
extern const char kPanelLeave[];

// The bytes that draw one whole frame on a terminal of rows by columns:
// every row is addressed by its position, cut to columns, and cleared to its
// end; the rows below the panel are cleared. fields maps control ids to their
// texts (a missing id is empty); events are the event list, oldest first.
// The frame is at most byteLimit bytes (at least 32): where the whole panel
// would be more, it shows fewer of the events, then fewer rows. Empty when
// the terminal has no rows or no columns.
std::string renderPanel(const std::map<int, std::string>& fields, const std::deque<std::string>& events, int rows,
                        int columns, std::size_t byteLimit = std::string::npos);

// What the panel shows, and the last frame drawn of it.
class ConsolePanel {
public:
    void setItemText(int id, const std::string& text);
    void addEvent(const std::string& line);
    void clearEvents();
    // Drops the oldest events until at most keep remain.
    void trimEvents(std::size_t keep);
    // The frame to write for a terminal of rows by columns, or nothing when it
    // would be the same as the last frame returned (nothing changed, and
    // neither did the terminal's size), at most byteLimit bytes.
    std::optional<std::string> redraw(int rows, int columns, std::size_t byteLimit = std::string::npos);
    // The last frame did not reach the terminal: the next redraw draws anew.
    void forgetFrame();
    // Forgets everything: empty fields, no events, no frame drawn yet.
    void reset();

private:
    std::map<int, std::string> mFields;
    std::deque<std::string> mEvents;
    bool mDrawn = false;
    std::string mLastFrame;
    int mRows = 0;
    int mColumns = 0;
};

}  // namespace console
