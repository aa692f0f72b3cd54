// The console's terminal panel (app/console_panel.h): the frame's layout and
// bytes, and the store of what the panel shows.
#include "app/console_panel.h"

#include <vector>

#include "app/console_view.h"
#include "app/resource.h"

namespace console {

const int kPanelFields[kPanelFieldCount] = {IDC_CPU,        IDC_OS_DESC, IDC_HOST_NAME, IDC_COMMON_IPS,
                                            IDC_TRIGGER,    IDC_ORVANE,  IDC_CLOUD};

// 1049: the alternate screen (saves and clears; leaving restores the
// screen and the cursor's place); 25: the cursor's visibility.
const char kPanelEnter[] = "\x1b[?1049h\x1b[?25l";
const char kPanelLeave[] = "\x1b[?25h\x1b[?1049l";

namespace {

// "ESC [ row ; 1 H": the cursor to the start of row (1-based).
std::string rowStart(std::size_t row)
{
    return "\x1b[" + std::to_string(row) + ";1H";
}

}  // namespace

std::string panelTitle()
{
    return ZQ_PROGRAM_NAME " " ZQ_VERSION_TEXT;
}

namespace {

// The bytes of the frame that shows rows (each cut to width already) on a
// terminal height rows high; frameSize counts them without building them.
// Each row is addressed on its own, so that a row as wide as the terminal,
// whose cursor waits at the last column, moves nothing. Erasing from that
// column would erase its last character: a full row needs no erasing anyway.
std::string frameOf(const std::vector<std::string>& rows, std::size_t height, std::size_t width)
{
    std::string frame;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        frame += rowStart(row + 1);
        frame += rows[row];
        if (rows[row].size() < width)
            frame += "\x1b[K";
    }
    if (rows.size() < height)
        frame += rowStart(rows.size() + 1) + "\x1b[J";
    return frame;
}

std::size_t frameSize(const std::vector<std::string>& rows, std::size_t height, std::size_t width)
{
    std::size_t size = 0;
    for (std::size_t row = 0; row < rows.size(); ++row)
        size += rowStart(row + 1).size() + rows[row].size() + (rows[row].size() < width ? 3 : 0);
    if (rows.size() < height)
        size += rowStart(rows.size() + 1).size() + 3;
    return size;
}

// A text as one panel row: escaped with the tab too, since the terminal
// would widen a row by its tab stops after the row was cut to the width.
std::string panelRow(const std::string& text, std::size_t width)
{
    std::string row = escapeControls(text, Pass::Nothing);
    if (row.size() > width)
        row.resize(width);
    return row;
}

}  // namespace

std::string renderPanel(const std::map<int, std::string>& fields, const std::deque<std::string>& events, int rows,
                        int columns, std::size_t byteLimit)
{
    if (rows <= 0 || columns <= 0)
        return std::string();
    const std::size_t height = static_cast<std::size_t>(rows);
    const std::size_t width = static_cast<std::size_t>(columns);

    std::vector<std::string> shown;
    shown.push_back(panelRow(panelTitle(), width));
    for (int id : kPanelFields) {
        auto field = fields.find(id);
        shown.push_back(panelRow(std::string(itemLabel(id)) + " " +
                                     (field != fields.end() ? field->second : std::string()),
                                 width));
    }
    // The events below their heading, as many of the newest as fit.
    std::size_t firstEvent = height;
    if (shown.size() + 1 < height) {
        shown.push_back("Events:");
        firstEvent = shown.size();
        std::size_t room = height - shown.size();
        std::size_t first = events.size() > room ? events.size() - room : 0;
        for (std::size_t i = first; i < events.size(); ++i)
            shown.push_back(panelRow(events[i], width));
    }
    if (shown.size() > height)
        shown.resize(height);

    // A frame larger than the output allows would never reach the screen:
    // the oldest events shown go first, then the rows from the bottom, and
    // at last the title is cut.
    while (shown.size() > 1 && frameSize(shown, height, width) > byteLimit) {
        if (shown.size() > firstEvent)
            shown.erase(shown.begin() + static_cast<std::ptrdiff_t>(firstEvent));
        else
            shown.pop_back();
    }
    std::size_t size = frameSize(shown, height, width);
    if (size > byteLimit) {
        std::size_t rest = size - shown[0].size() + (shown[0].size() < width ? 0 : 3);
        shown[0].resize(byteLimit > rest ? byteLimit - rest : 0);
    }
    return frameOf(shown, height, width);
}

void ConsolePanel::setItemText(int id, const std::string& text)
{
    mFields[id] = text;
}

void ConsolePanel::addEvent(const std::string& line)
{
    mEvents.push_back(line);
}

void ConsolePanel::clearEvents()
{
    mEvents.clear();
}

void ConsolePanel::trimEvents(std::size_t keep)
{
    while (mEvents.size() > keep)
        mEvents.pop_front();
}

std::optional<std::string> ConsolePanel::redraw(int rows, int columns, std::size_t byteLimit)
{
    // A resized terminal may have moved or dropped what it showed: the frame
    // is drawn again even where its bytes are the same.
    std::string frame = renderPanel(mFields, mEvents, rows, columns, byteLimit);
    if (mDrawn && frame == mLastFrame && rows == mRows && columns == mColumns)
        return std::nullopt;
    mDrawn = true;
    mLastFrame = frame;
    mRows = rows;
    mColumns = columns;
    return frame;
}

void ConsolePanel::forgetFrame()
{
    mDrawn = false;
}

void ConsolePanel::reset()
{
    mFields.clear();
    mEvents.clear();
    mLastFrame.clear();
    mDrawn = false;
}

}  // namespace console
