#include "fakes/recording_dialog.h"

#include <mutex>

namespace {
std::mutex gMutex;
std::vector<recordingdialog::Call> gCalls;
std::vector<std::pair<dlg::Message, dlg::WParam>> gScript;
bool gEnded = false;
std::intptr_t gResult = 0;
int gToken = 0;
bool gDrawn = true;

void record(const char* what, int id, const std::string& text)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gCalls.push_back({what, id, text});
}
}  // namespace

namespace recordingdialog {

std::vector<Call> calls()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gCalls;
}

void clear()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gCalls.clear();
}

void setDrawn(bool drawn)
{
    gDrawn = drawn;
}

void scriptModal(std::vector<std::pair<dlg::Message, dlg::WParam>> messages)
{
    gScript = std::move(messages);
}

}  // namespace recordingdialog

namespace dlg {

std::intptr_t runModal(int templateId, Procedure procedure)
{
    record("modal", templateId, "");
    gEnded = false;
    gResult = 0;
    Handle dialog = &gToken;
    procedure(dialog, kInitDialog, 0, 0);
    for (const auto& message : gScript) {
        if (gEnded)
            break;
        procedure(dialog, message.first, message.second, 0);
    }
    return gResult;
}

void startTimer(Handle, unsigned id, unsigned milliseconds)
{
    record("timer", static_cast<int>(id), std::to_string(milliseconds));
}

bool drawn(Handle)
{
    return gDrawn;
}

void endDialog(Handle, std::intptr_t result)
{
    gEnded = true;
    gResult = result;
    record("end", static_cast<int>(result), "");
}

void setItemText(Handle, int id, const std::string& text) { record("text", id, text); }
void addListLine(Handle, int listId, const std::string& line) { record("line", listId, line); }
void resetList(Handle, int listId) { record("reset", listId, ""); }
void trimList(Handle, int listId, std::size_t keep) { record("trim", listId, std::to_string(keep)); }
void showProgramIcon(Handle, int iconId, int staticId) { record("icon", iconId, std::to_string(staticId)); }
void showAlarms(Handle, unsigned long alarms, const std::string& lastAlarm)
{
    record("alarms", static_cast<int>(alarms), lastAlarm);
}
void reportStartFailure(const std::string& reason) { record("failure", 0, reason); }

}  // namespace dlg
