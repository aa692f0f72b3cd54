// A dialog manager that records what the dialog logic asks of it, and runs a
// scripted series of messages as its modal loop.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/dialog_manager.h"

namespace recordingdialog {

struct Call {
    std::string what;  // "text", "line", "reset", "trim", "timer", "end", "icon", "alarms",
                       // "failure"
    int id = 0;
    std::string text;
};

std::vector<Call> calls();
void clear();

// The messages that runModal delivers, in order, after kInitDialog; it stops
// when the dialog has ended or the script runs out.
void scriptModal(std::vector<std::pair<dlg::Message, dlg::WParam>> messages);

// What drawn answers (true, a window, until set otherwise).
void setDrawn(bool drawn);

}  // namespace recordingdialog
