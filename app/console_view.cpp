// The console's line format (app/console_view.h): pure functions and a change
// tracker, shared by the Linux console dialog and the rest of the agent.
#include "app/console_view.h"

#include "app/resource.h"

namespace console {

namespace {

// "<label> <escaped text>\n", where a control without a label of its own is
// named by its kind and id ("Control 4711:").
std::string labelledLine(const char* label, const char* kind, int id, const std::string& text)
{
    std::string line = label != nullptr ? label : kind + std::to_string(id) + ":";
    line += ' ';
    line += escapeControls(text);
    line += '\n';
    return line;
}

}  // namespace

const char* itemLabel(int controlId)
{
    switch (controlId) {
    case IDC_CPU:
        return "Total CPU:";
    case IDC_OS_DESC:
        return "OS Description:";
    case IDC_HOST_NAME:
        return "Host Name:";
    case IDC_COMMON_IPS:
        return "Local IP In Common with Orvane IP:";
    case IDC_TRIGGER:
        return "Trigger:";
    case IDC_ORVANE:
        return "Orvane:";
    case IDC_CLOUD:
        return "Cloud:";
    default:
        return nullptr;
    }
}

const char* listLabel(int listId)
{
    return listId == IDC_EVENT_LIST ? "Event:" : nullptr;
}

std::optional<std::string> ConsoleView::setItemText(int id, const std::string& text, Clock::time_point now)
{
    auto shown = mTexts.find(id);
    if (shown == mTexts.end() ? text.empty() : shown->second == text)
        return std::nullopt;  // unchanged; every control starts empty
    if (id == IDC_CPU) {
        if (mCpuLineAt && now - *mCpuLineAt < kCpuLineInterval)
            return std::nullopt;
        mCpuLineAt = now;
    }
    mTexts[id] = text;
    return labelledLine(itemLabel(id), "Control ", id, text);
}

std::optional<std::string> ConsoleView::alarmLine(unsigned long alarms, const std::string& lastAlarm)
{
    if (alarms == mAlarmsShown)
        return std::nullopt;
    // Alarms are at least three minutes apart: a refresh sees one at a time.
    mAlarmsShown = alarms;
    return "CPU alarm: " + escapeControls(lastAlarm) + "\n";
}

std::string ConsoleView::listLine(int listId, const std::string& line)
{
    return labelledLine(listLabel(listId), "List ", listId, line);
}

std::string ConsoleView::listClearedLine(int listId)
{
    if (listId == IDC_EVENT_LIST)
        return "Event list cleared.\n";
    return "List " + std::to_string(listId) + " cleared.\n";
}

void ConsoleView::reset()
{
    mTexts.clear();
    mCpuLineAt.reset();
    mAlarmsShown = 0;
}

std::string startFailureLine(const std::string& reason)
{
    return std::string(kProgramName) +
           ": the watch dog could not start; most likely another copy is running and holds UDP port "
           "45654 (reason: " +
           escapeControls(reason) + ")\n";
}

}  // namespace console
