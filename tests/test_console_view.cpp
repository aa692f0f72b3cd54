// The Linux console dialog: its line format (escaping, labels, printing on
// change only) and its message loop (timer schedule, stop signals, Enter on
// a terminal, standard input that is not a terminal).
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <map>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/console_panel.h"
#include "app/console_view.h"
#include "app/dialog_manager.h"
#include "app/main_dialog.h"
#include "service/zq_srv.h"

namespace {

using console::ConsoleView;
using console::escapeControls;

const ConsoleView::Clock::time_point kStart{std::chrono::hours(1000)};

// ------------------------------------------------------------------ escaping

TEST(ConsoleEscape, PrintableTextAndTabStayAsTheyAre)
{
    EXPECT_EQ(escapeControls("Total\tCPU: 12 % <a b=\"c\">"), "Total\tCPU: 12 % <a b=\"c\">");
    EXPECT_EQ(escapeControls(""), "");
}

TEST(ConsoleEscape, LineEndsEscapeAndDeleteAreEscaped)
{
    EXPECT_EQ(escapeControls("a\rb"), "a\\rb");
    EXPECT_EQ(escapeControls("a\nb"), "a\\nb");
    EXPECT_EQ(escapeControls("beaconCfgAlarm\x1b[31m"), "beaconCfgAlarm\\x1b[31m");
    EXPECT_EQ(escapeControls("x\x7fy"), "x\\x7fy");
}

TEST(ConsoleEscape, ExceptionEntryShowsItsLineFeed)
{
    EXPECT_EQ(escapeControls(" ZqServer= *** EXCEPTION  UdpZqServer::UdpZqServer\n"),
              " ZqServer= *** EXCEPTION  UdpZqServer::UdpZqServer\\n");
}

TEST(ConsoleEscape, EveryControlByteButTabBecomesAnEscapeOfItsOwn)
{
    for (int byte = 0; byte < 0x20; ++byte) {
        if (byte == '\t')
            continue;
        std::string in = std::string("<") + static_cast<char>(byte) + ">";
        std::string out = escapeControls(in);
        SCOPED_TRACE("byte " + std::to_string(byte));
        ASSERT_GE(out.size(), 4u);
        EXPECT_EQ(out.front(), '<');
        EXPECT_EQ(out.back(), '>');
        std::string escape = out.substr(1, out.size() - 2);
        EXPECT_EQ(escape[0], '\\');
        for (char c : escape)
            EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "unescaped byte in " << escape;
        if (byte == '\n') {
            EXPECT_EQ(escape, "\\n");
        } else if (byte == '\r') {
            EXPECT_EQ(escape, "\\r");
        } else {
            char expected[8];
            std::snprintf(expected, sizeof expected, "\\x%02x", byte);
            EXPECT_EQ(escape, expected);
        }
    }
}

TEST(ConsoleEscape, ZeroByteInsideATextIsShown)
{
    EXPECT_EQ(escapeControls(std::string("a\0b", 3)), "a\\x00b");
}

TEST(ConsoleEscape, BackslashIsDoubledSoEscapesAreUnambiguous)
{
    // A received backslash-x-1-b must not look like a received escape byte.
    EXPECT_EQ(escapeControls("\\x1b"), "\\\\x1b");
    EXPECT_NE(escapeControls("\\x1b"), escapeControls("\x1b"));
}

TEST(ConsoleEscape, BytesFromHexEightyUpPassUnchanged)
{
    const std::string utf8 = "Debian GNU/Linux \xc3\xa9t\xc3\xa9";
    EXPECT_EQ(escapeControls(utf8), utf8);
    const std::string high = "\x80\x9b\xff";
    EXPECT_EQ(escapeControls(high), high);
}

// ------------------------------------------------------------------ labels

TEST(ConsoleLabels, ValueFieldsHaveTheDialogsLabels)
{
    EXPECT_STREQ(console::itemLabel(IDC_CPU), "Total CPU:");
    EXPECT_STREQ(console::itemLabel(IDC_OS_DESC), "OS Description:");
    EXPECT_STREQ(console::itemLabel(IDC_HOST_NAME), "Host Name:");
    EXPECT_STREQ(console::itemLabel(IDC_COMMON_IPS), "Local IP In Common with Orvane IP:");
    EXPECT_STREQ(console::itemLabel(IDC_TRIGGER), "Trigger:");
    EXPECT_STREQ(console::itemLabel(IDC_ORVANE), "Orvane:");
    EXPECT_STREQ(console::itemLabel(IDC_CLOUD), "Cloud:");
}

TEST(ConsoleLabels, OtherControlsAreNoValueFields)
{
    for (int id : {IDC_EXIT, IDC_CANCEL, IDC_PROGRAM_ICON, IDC_CLEAR, IDC_EVENT_LIST, -1, 0})
        EXPECT_EQ(console::itemLabel(id), nullptr) << "control " << id;
    EXPECT_STREQ(console::listLabel(IDC_EVENT_LIST), "Event:");
    EXPECT_EQ(console::listLabel(IDC_CPU), nullptr);
}

// ------------------------------------------------------------------ change tracking

TEST(ConsoleViewLines, AFieldPrintsOnlyWhenItsTextChanges)
{
    ConsoleView view;
    EXPECT_EQ(view.setItemText(IDC_TRIGGER, "", kStart), std::nullopt) << "the field starts empty";
    EXPECT_EQ(view.setItemText(IDC_TRIGGER, "12", kStart), std::optional<std::string>("Trigger: 12\n"));
    EXPECT_EQ(view.setItemText(IDC_TRIGGER, "12", kStart), std::nullopt);
    EXPECT_EQ(view.setItemText(IDC_TRIGGER, "12", kStart), std::nullopt);
    EXPECT_EQ(view.setItemText(IDC_TRIGGER, "7", kStart), std::optional<std::string>("Trigger: 7\n"));
    EXPECT_EQ(view.setItemText(IDC_TRIGGER, "", kStart), std::optional<std::string>("Trigger: \n"))
        << "a field that becomes empty again says so";
    EXPECT_EQ(view.setItemText(IDC_TRIGGER, "", kStart), std::nullopt);
}

TEST(ConsoleViewLines, FieldsAreTrackedEachOnItsOwn)
{
    ConsoleView view;
    EXPECT_EQ(view.setItemText(IDC_ORVANE, "192.168.1.20", kStart), std::optional<std::string>("Orvane: 192.168.1.20\n"));
    EXPECT_EQ(view.setItemText(IDC_CLOUD, "192.168.1.20", kStart), std::optional<std::string>("Cloud: 192.168.1.20\n"));
    EXPECT_EQ(view.setItemText(IDC_COMMON_IPS, "192.168.1.5", kStart),
              std::optional<std::string>("Local IP In Common with Orvane IP: 192.168.1.5\n"));
    EXPECT_EQ(view.setItemText(IDC_ORVANE, "192.168.1.20", kStart), std::nullopt);
    EXPECT_EQ(view.setItemText(IDC_TRIGGER, "0%:1s", kStart), std::optional<std::string>("Trigger: 0%:1s\n"));
    EXPECT_EQ(view.setItemText(IDC_HOST_NAME, "plant-pc-7", kStart), std::optional<std::string>("Host Name: plant-pc-7\n"));
    EXPECT_EQ(view.setItemText(IDC_OS_DESC, "Debian GNU/Linux 12 (bookworm), 64-bit", kStart),
              std::optional<std::string>("OS Description: Debian GNU/Linux 12 (bookworm), 64-bit\n"));
}

TEST(ConsoleViewLines, ResetMakesEveryFieldEmptyAgain)
{
    ConsoleView view;
    ASSERT_TRUE(view.setItemText(IDC_CPU, "3", kStart));
    view.reset();
    EXPECT_EQ(view.setItemText(IDC_CPU, "3", kStart), std::optional<std::string>("Total CPU: 3\n"));
    view.reset();
    EXPECT_EQ(view.setItemText(IDC_CPU, "", kStart), std::nullopt);
}

TEST(ConsoleViewLines, ValuesAreEscapedAndComparedUnescaped)
{
    ConsoleView view;
    EXPECT_EQ(view.setItemText(IDC_CLOUD, "10.0.0.1\x1b[2J\n", kStart),
              std::optional<std::string>("Cloud: 10.0.0.1\\x1b[2J\\n\n"));
    // The raw text is what counts: an escaped look-alike is a change.
    EXPECT_EQ(view.setItemText(IDC_CLOUD, "10.0.0.1\\x1b[2J\\n", kStart),
              std::optional<std::string>("Cloud: 10.0.0.1\\\\x1b[2J\\\\n\n"));
}

TEST(ConsoleViewLines, UnknownControlGetsAGenericLabel)
{
    ConsoleView view;
    EXPECT_EQ(view.setItemText(4711, "x", kStart), std::optional<std::string>("Control 4711: x\n"));
}

TEST(ConsoleViewLines, EventLinesAreLabelledAndEscaped)
{
    EXPECT_EQ(ConsoleView::listLine(IDC_EVENT_LIST, " BEFORE new zq::ZqServer()"),
              "Event:  BEFORE new zq::ZqServer()\n");
    EXPECT_EQ(ConsoleView::listLine(IDC_EVENT_LIST, " ZqServer= *** EXCEPTION  ZqServer::run\n"),
              "Event:  ZqServer= *** EXCEPTION  ZqServer::run\\n\n");
    EXPECT_EQ(ConsoleView::listLine(IDC_EVENT_LIST, " MulticastRX= beaconCfgAlarm\x1b[31m"),
              "Event:  MulticastRX= beaconCfgAlarm\\x1b[31m\n");
    EXPECT_EQ(ConsoleView::listClearedLine(IDC_EVENT_LIST), "Event list cleared.\n");
}

TEST(ConsoleViewLines, StartFailureIsOneLineNamingThePort)
{
    std::string line = console::startFailureLine("bind: Address already in use\r\n");
    EXPECT_NE(line.find("could not start"), std::string::npos) << line;
    EXPECT_NE(line.find("45654"), std::string::npos) << line;
    EXPECT_NE(line.find("bind: Address already in use\\r\\n"), std::string::npos) << line;
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line only";
}

// ------------------------------------------------------------------ the journal's and pipes' rules

TEST(ConsoleViewLines, TheCpuLineComesAtMostOnceInTenMinutes)
{
    using std::chrono::minutes;
    using std::chrono::seconds;
    struct Step {
        ConsoleView::Clock::duration at;
        const char* cpu;
        const char* line;  // nullptr: none
    };
    const Step steps[] = {
        {seconds(0), "", nullptr},                        // still empty
        {seconds(1), "5", "Total CPU: 5\n"},              // the first value at once
        {seconds(2), "7", nullptr},
        {minutes(10), "9", nullptr},                      // 9:59 after the first line
        {minutes(10) + seconds(1), "9", "Total CPU: 9\n"},  // the value of that time
        {minutes(11), "3", nullptr},
        {minutes(30), "9", nullptr},                      // back to what was shown
        {minutes(31), "4", "Total CPU: 4\n"},
    };
    ConsoleView view;
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(std::chrono::duration_cast<seconds>(step.at).count()) + " s");
        std::optional<std::string> got = view.setItemText(IDC_CPU, step.cpu, kStart + step.at);
        EXPECT_EQ(got, step.line ? std::optional<std::string>(step.line) : std::nullopt);
        // Other fields are not held back.
        EXPECT_EQ(view.setItemText(IDC_CLOUD, step.cpu, kStart + step.at).has_value(), *step.cpu != '\0');
        view.setItemText(IDC_CLOUD, "", kStart + step.at);
    }
}

TEST(ConsoleViewLines, EachNewCpuAlarmIsOneEscapedLine)
{
    ConsoleView view;
    EXPECT_EQ(view.alarmLine(0, ""), std::nullopt);
    EXPECT_EQ(view.alarmLine(1, "97% sent to 192.168.1.10:34543 from 192.168.1.5"),
              std::optional<std::string>("CPU alarm: 97% sent to 192.168.1.10:34543 from 192.168.1.5\n"));
    EXPECT_EQ(view.alarmLine(1, "97% sent to 192.168.1.10:34543 from 192.168.1.5"), std::nullopt);
    EXPECT_EQ(view.alarmLine(2, "100% sent to 10.0.0.1:9\r\n"),
              std::optional<std::string>("CPU alarm: 100% sent to 10.0.0.1:9\\r\\n\n"));
    view.reset();
    EXPECT_TRUE(view.alarmLine(2, "x").has_value()) << "a new dialog has seen no alarm";
}

// ------------------------------------------------------------------ the terminal panel

// A terminal of rows by columns that understands what a frame uses: cursor
// positioning, erase to end of line and of screen, printable bytes. Anything
// else, or a byte past the right edge, is a fault of the frame.
std::vector<std::string> play(const std::string& frame, int rows, int columns, std::vector<std::string> screen = {})
{
    screen.resize(static_cast<std::size_t>(rows), std::string(static_cast<std::size_t>(columns), '.'));
    std::size_t row = 0, column = 0;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(frame[i]);
        if (c == 0x1b && i + 1 < frame.size() && frame[i + 1] == '[') {
            std::size_t end = frame.find_first_of("HKJ", i + 2);
            EXPECT_NE(end, std::string::npos) << "unknown sequence at " << i;
            if (end == std::string::npos)
                break;
            std::string params = frame.substr(i + 2, end - i - 2);
            if (frame[end] == 'H') {
                row = std::stoul(params) - 1;
                column = std::stoul(params.substr(params.find(';') + 1)) - 1;
                EXPECT_LT(row, static_cast<std::size_t>(rows));
            } else {
                EXPECT_EQ(params, "");
                for (std::size_t r = row; r < (frame[end] == 'J' ? screen.size() : row + 1); ++r)
                    for (std::size_t x = (r == row ? column : 0); x < screen[r].size(); ++x)
                        screen[r][x] = ' ';
            }
            i = end;
            continue;
        }
        EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "raw byte " << int(c) << " at " << i;
        EXPECT_LT(column, static_cast<std::size_t>(columns)) << "written past the right edge at " << i;
        if (column < static_cast<std::size_t>(columns) && row < screen.size())
            screen[row][column] = static_cast<char>(c);
        ++column;
    }
    for (std::string& line : screen)
        line.erase(line.find_last_not_of(' ') + 1);
    return screen;
}

TEST(ConsolePanelFrame, LayoutCutToTheTerminalsSize)
{
    const std::map<int, std::string> fields = {{IDC_CPU, "12"},
                                               {IDC_HOST_NAME, "plant-pc"},
                                               {IDC_CLOUD, "10.0.0.9\x1b[2J"},
                                               {IDC_COMMON_IPS, "192.168.1.5 192.168.2.5"}};
    const std::deque<std::string> events = {" BEFORE new zq::ZqServer()", " AFTER new zq::ZqServer()",
                                            " MulticastRX= beaconCfgAlarm\x1b[31m\n"};
    const std::vector<std::string> all = {
        "Brindlemoor Win32 Watch Dog 1.0.0.4",
        "Total CPU: 12",
        "OS Description:",
        "Host Name: plant-pc",
        "Local IP In Common with Orvane IP: 192.168.1.5 192.168.2.5",
        "Trigger:",
        "Orvane:",
        "Cloud: 10.0.0.9\\x1b[2J",
        "Events:",
        " BEFORE new zq::ZqServer()",
        " AFTER new zq::ZqServer()",
        " MulticastRX= beaconCfgAlarm\\x1b[31m\\n",
    };
    auto rowsOf = [&](std::initializer_list<int> picks, std::size_t width) {
        std::vector<std::string> rows;
        for (int pick : picks)
            rows.push_back(pick < 0 ? "" : all[static_cast<std::size_t>(pick)].substr(0, width));
        for (std::string& row : rows)
            row.erase(row.find_last_not_of(' ') + 1);
        return rows;
    };
    struct Case {
        int rows, columns;
        std::vector<std::string> screen;
    };
    const Case cases[] = {
        {14, 80, rowsOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -1, -1}, 80)},  // all fit, rest cleared
        {11, 80, rowsOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11}, 80)},             // the newest events that fit
        {10, 80, rowsOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 11}, 80)},
        {9, 80, rowsOf({0, 1, 2, 3, 4, 5, 6, 7, -1}, 80)},                     // no room for an event
        {4, 80, rowsOf({0, 1, 2, 3}, 80)},                                     // fields cut off below
        {12, 20, rowsOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 20)},          // each row cut to the width
        {12, 35, rowsOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 35)},          // the title exactly as wide
        {1, 1, {"B"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + "x" + std::to_string(c.columns));
        // Drawn over a screen full of an earlier frame's text.
        std::vector<std::string> dirty(static_cast<std::size_t>(c.rows), std::string(c.columns, 'x'));
        EXPECT_EQ(play(console::renderPanel(fields, events, c.rows, c.columns), c.rows, c.columns, dirty), c.screen);
    }
    EXPECT_EQ(console::renderPanel(fields, events, 0, 80), "");
    EXPECT_EQ(console::renderPanel(fields, events, 24, 0), "");
}

TEST(ConsolePanelFrame, RedrawnOnlyWhenSomethingOrTheSizeChanged)
{
    console::ConsolePanel panel;
    ASSERT_TRUE(panel.redraw(24, 80).has_value());
    EXPECT_FALSE(panel.redraw(24, 80).has_value());
    panel.setItemText(IDC_CPU, "3");
    EXPECT_TRUE(panel.redraw(24, 80).has_value());
    panel.setItemText(IDC_CPU, "3");
    EXPECT_FALSE(panel.redraw(24, 80).has_value());
    EXPECT_TRUE(panel.redraw(30, 80).has_value());
    EXPECT_TRUE(panel.redraw(30, 100).has_value());
    panel.addEvent(" one");
    panel.addEvent(" two");
    std::optional<std::string> frame = panel.redraw(30, 100);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(play(*frame, 30, 100)[10], " two");
    panel.trimEvents(1);
    EXPECT_TRUE(panel.redraw(30, 100).has_value());
    panel.trimEvents(1);
    EXPECT_FALSE(panel.redraw(30, 100).has_value());
    panel.clearEvents();
    ASSERT_TRUE((frame = panel.redraw(30, 100)).has_value());
    EXPECT_EQ(play(*frame, 30, 100)[9], "");
    panel.reset();
    EXPECT_TRUE(panel.redraw(30, 100).has_value()) << "a new dialog draws its first frame";
}

// ------------------------------------------------------------------ the message loop

struct Received {
    dlg::Handle dialog;
    dlg::Message message;
    dlg::WParam wParam;
};

// The state a test's dialog procedure works on (procedures are plain
// function pointers).
struct Script {
    std::vector<Received> messages;
    // Called for every message after it is recorded.
    std::function<void(dlg::Handle, dlg::Message, dlg::WParam)> onMessage;
};
Script* gScript = nullptr;

bool scriptedProc(dlg::Handle dialog, dlg::Message message, dlg::WParam wParam, dlg::LParam)
{
    gScript->messages.push_back({dialog, message, wParam});
    if (gScript->onMessage)
        gScript->onMessage(dialog, message, wParam);
    return false;
}

std::intptr_t runScript(Script& script)
{
    gScript = &script;
    std::intptr_t result = dlg::runModal(IDD_MAIN, scriptedProc);
    gScript = nullptr;
    return result;
}

std::size_t count(const Script& script, dlg::Message message)
{
    std::size_t n = 0;
    for (const Received& r : script.messages)
        n += r.message == message ? 1 : 0;
    return n;
}

// Replaces a standard descriptor for the life of the object.
class Redirect {
public:
    // Points target at fd (or closes target when fd is -1).
    Redirect(int target, int fd) : mTarget(target), mSaved(::dup(target))
    {
        if (target == STDOUT_FILENO)
            std::fflush(stdout);
        if (fd < 0)
            ::close(target);
        else
            ::dup2(fd, target);
    }
    ~Redirect()
    {
        if (mTarget == STDOUT_FILENO)
            std::fflush(stdout);
        ::dup2(mSaved, mTarget);
        ::close(mSaved);
    }
    Redirect(const Redirect&) = delete;
    Redirect& operator=(const Redirect&) = delete;

private:
    int mTarget;
    int mSaved;
};

// A temporary file whose content can be read back.
class TempFile {
public:
    TempFile()
    {
        char name[] = "/tmp/zq-console-XXXXXX";
        mFd = ::mkstemp(name);
        ::unlink(name);
    }
    ~TempFile() { ::close(mFd); }
    int fd() const { return mFd; }
    std::string content() const
    {
        std::string text;
        char buffer[4096];
        ssize_t got;
        off_t offset = 0;
        while ((got = ::pread(mFd, buffer, sizeof buffer, offset)) > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
            offset += got;
        }
        return text;
    }

private:
    int mFd = -1;
};

// A pseudo-terminal; its slave side stands in for the user's terminal.
class Pty {
public:
    Pty()
    {
        mMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (mMaster >= 0 && ::grantpt(mMaster) == 0 && ::unlockpt(mMaster) == 0)
            mSlave = ::open(::ptsname(mMaster), O_RDWR | O_NOCTTY);
    }
    ~Pty()
    {
        closeMaster();
        if (mSlave >= 0)
            ::close(mSlave);
    }
    bool ok() const { return mMaster >= 0 && mSlave >= 0; }
    int slave() const { return mSlave; }
    void type(const char* keys) const
    {
        ASSERT_EQ(::write(mMaster, keys, std::strlen(keys)), static_cast<ssize_t>(std::strlen(keys)));
    }
    void closeMaster()
    {
        if (mMaster >= 0)
            ::close(mMaster);
        mMaster = -1;
    }

private:
    int mMaster = -1;
    int mSlave = -1;
};

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(ConsoleDialog, InitDialogComesFirstWithAHandleAndEndDialogGivesTheResult)
{
    Script script;
    script.onMessage = [](dlg::Handle dialog, dlg::Message message, dlg::WParam) {
        if (message == dlg::kInitDialog)
            dlg::endDialog(dialog, 42);
    };
    EXPECT_EQ(runScript(script), 42);
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].message, dlg::kInitDialog);
    EXPECT_NE(script.messages[0].dialog, nullptr);
}

TEST(ConsoleDialog, TimerMessagesCarryTheIdAndKeepAFixedSchedule)
{
    // Each tick's handling takes 120 of the 200 milliseconds; a schedule that
    // restarted after the handling would need 6 * 320 ms for six ticks.
    constexpr int kTicks = 6;
    Script script;
    auto start = std::chrono::steady_clock::now();
    int ticks = 0;
    script.onMessage = [&](dlg::Handle dialog, dlg::Message message, dlg::WParam) {
        if (message == dlg::kInitDialog) {
            start = std::chrono::steady_clock::now();
            dlg::startTimer(dialog, 77, 200);
        } else if (message == dlg::kTimer) {
            if (++ticks == kTicks) {
                dlg::endDialog(dialog, 5);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(120));  // a slow refresh
        }
    };
    EXPECT_EQ(runScript(script), 5);
    double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, kTicks * 0.2 - 0.01) << "ticks came early";
    EXPECT_LT(elapsed, kTicks * 0.2 + 0.45) << "the schedule drifted with the handling time";
    ASSERT_EQ(count(script, dlg::kTimer), static_cast<std::size_t>(kTicks));
    for (const Received& r : script.messages) {
        if (r.message == dlg::kTimer) {
            EXPECT_EQ(r.wParam, 77u);
        }
        EXPECT_EQ(r.dialog, script.messages[0].dialog);
    }
    EXPECT_EQ(count(script, dlg::kCommand), 0u);
}

class ConsoleStopSignal : public testing::TestWithParam<int> {};

TEST_P(ConsoleStopSignal, IsCancel)
{
    // Signals are blocked by runModal itself; this test process has one thread.
    Script script;
    int ticks = 0;
    script.onMessage = [&](dlg::Handle dialog, dlg::Message message, dlg::WParam wParam) {
        if (message == dlg::kInitDialog)
            dlg::startTimer(dialog, 1, 50);
        else if (message == dlg::kTimer && ++ticks == 1)
            ::kill(::getpid(), GetParam());
        else if (message == dlg::kTimer && ticks > 40)
            dlg::endDialog(dialog, -1);  // no Cancel within two seconds
        else if (message == dlg::kCommand)
            dlg::endDialog(dialog, static_cast<std::intptr_t>(wParam));
    };
    EXPECT_EQ(runScript(script), 2);
    ASSERT_GE(script.messages.size(), 3u);
    EXPECT_EQ(script.messages.back().message, dlg::kCommand);
    EXPECT_EQ(script.messages.back().wParam, 2u);
    // The signal was taken, not left pending for the next dialog.
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, GetParam()), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, ConsoleStopSignal, testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& signal) {
                             return std::string(signal.param == SIGINT    ? "SIGINT"
                                                : signal.param == SIGTERM ? "SIGTERM"
                                                                        : "SIGHUP");
                         });

// Runs a dialog with a 50 ms timer for the given number of ticks; onTick is
// called with each tick's number. Returns the result (99 when the ticks ran
// out).
std::intptr_t runTicks(Script& script, int ticks, std::function<void(int)> onTick = nullptr)
{
    int seen = 0;
    script.onMessage = [&](dlg::Handle dialog, dlg::Message message, dlg::WParam wParam) {
        if (message == dlg::kInitDialog) {
            dlg::startTimer(dialog, 3, 50);
        } else if (message == dlg::kTimer) {
            ++seen;
            if (onTick)
                onTick(seen);
            if (seen == ticks)
                dlg::endDialog(dialog, 99);
        } else if (message == dlg::kCommand) {
            dlg::endDialog(dialog, static_cast<std::intptr_t>(wParam));
        }
    };
    return runScript(script);
}

TEST(ConsoleDialog, StandardInputThatIsNoTerminalIsNotRead)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ASSERT_EQ(::write(pipeFds[1], "\n\n", 2), 2);
    // Read back without blocking below, whatever the dialog did.
    ASSERT_EQ(::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK), 0);
    {
        Redirect input(STDIN_FILENO, pipeFds[0]);
        Script script;
        EXPECT_EQ(runTicks(script, 4), 99);
        EXPECT_EQ(count(script, dlg::kCommand), 0u);
    }
    // The line feeds are still there: nobody read them.
    char buffer[4] = {};
    EXPECT_EQ(::read(pipeFds[0], buffer, sizeof buffer), 2);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(ConsoleDialog, StandardInputFromDevNullOrClosedIsNotWatched)
{
    int devNull = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(devNull, 0);
    for (int fd : {devNull, -1}) {
        SCOPED_TRACE(fd < 0 ? "closed" : "/dev/null");
        Redirect input(STDIN_FILENO, fd);
        Script script;
        // A loop that polled an input at end of file would spin; it must not.
        std::clock_t cpuBefore = std::clock();
        EXPECT_EQ(runTicks(script, 8), 99);
        double cpuSeconds = static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
        EXPECT_EQ(count(script, dlg::kCommand), 0u);
        EXPECT_LT(cpuSeconds, 0.2) << "the loop spun";
    }
    ::close(devNull);
}

TEST(ConsoleDialog, EnterOnATerminalIsExit)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Redirect input(STDIN_FILENO, pty.slave());
    Script script;
    EXPECT_EQ(runTicks(script, 40, [&](int tick) {
                  if (tick == 2)
                      pty.type("\n");
              }),
              1);
    EXPECT_EQ(script.messages.back().message, dlg::kCommand);
    EXPECT_EQ(script.messages.back().wParam, 1u);
}

TEST(ConsoleDialog, ATypedLineIsExitOnlyOnceItsEnterCame)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Redirect input(STDIN_FILENO, pty.slave());
    Script script;
    int typedAt = 0;
    EXPECT_EQ(runTicks(script, 40, [&](int tick) {
                  if (tick == 1)
                      pty.type("quit");
                  if (tick == 6) {
                      typedAt = static_cast<int>(count(script, dlg::kTimer));
                      pty.type("\n");
                  }
              }),
              1);
    EXPECT_EQ(static_cast<int>(count(script, dlg::kTimer)), typedAt) << "Exit came before Enter or not at once";
}

TEST(ConsoleDialog, TerminalAtEndOfFileIsNoLongerRead)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Redirect input(STDIN_FILENO, pty.slave());
    Script script;
    std::clock_t cpuBefore = std::clock();
    EXPECT_EQ(runTicks(script, 10, [&](int tick) {
                  if (tick == 1)
                      pty.type("\x04");  // Ctrl-D: end of file
                  if (tick == 4)
                      pty.type("\n");
              }),
              99);
    double cpuSeconds = static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    EXPECT_EQ(count(script, dlg::kCommand), 0u);
    EXPECT_LT(cpuSeconds, 0.2) << "the loop spun";
}

TEST(ConsoleDialog, HungUpTerminalIsNoLongerReadAndDoesNotSpin)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Redirect input(STDIN_FILENO, pty.slave());
    Script script;
    std::clock_t cpuBefore = std::clock();
    EXPECT_EQ(runTicks(script, 10, [&](int tick) {
                  if (tick == 1)
                      pty.closeMaster();
              }),
              99);
    double cpuSeconds = static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    EXPECT_EQ(count(script, dlg::kCommand), 0u);
    EXPECT_LT(cpuSeconds, 0.2) << "the loop spun";
}

TEST(ConsoleDialog, ControlsAndListPrintTheirLinesOnStandardOutput)
{
    TempFile output;
    {
        Redirect redirect(STDOUT_FILENO, output.fd());
        for (int round = 0; round < 2; ++round) {
            Script script;
            script.onMessage = [](dlg::Handle dialog, dlg::Message message, dlg::WParam) {
                if (message != dlg::kInitDialog)
                    return;
                dlg::setItemText(dialog, IDC_CPU, "");
                dlg::setItemText(dialog, IDC_CPU, "3");
                dlg::setItemText(dialog, IDC_CPU, "3");
                dlg::setItemText(dialog, IDC_CPU, "4");  // within ten minutes of the 3
                dlg::setItemText(dialog, IDC_CLOUD, "10.0.0.1\r");
                dlg::addListLine(dialog, IDC_EVENT_LIST, " AFTER new zq::ZqServer()");
                dlg::showAlarms(dialog, 0, "");
                dlg::showAlarms(dialog, 1, "95% sent to 10.0.0.1:34543 from 10.0.0.2");
                dlg::showAlarms(dialog, 1, "95% sent to 10.0.0.1:34543 from 10.0.0.2");
                dlg::showProgramIcon(dialog, IDI_PROGRAM, IDC_PROGRAM_ICON);
                dlg::resetList(dialog, IDC_EVENT_LIST);
                // Calls for no dialog or another handle change nothing.
                dlg::setItemText(nullptr, IDC_CPU, "4");
                dlg::addListLine(nullptr, IDC_EVENT_LIST, "x");
                dlg::endDialog(nullptr, 7);
                dlg::endDialog(dialog, 8);
            };
            EXPECT_EQ(runScript(script), 8);
        }
        // After the dialog has ended its handle is no longer live.
        dlg::setItemText(&output, IDC_CPU, "5");
    }
    const std::string round = "Total CPU: 3\nCloud: 10.0.0.1\\r\nEvent:  AFTER new zq::ZqServer()\n"
                              "CPU alarm: 95% sent to 10.0.0.1:34543 from 10.0.0.2\nEvent list cleared.\n";
    EXPECT_EQ(output.content(), round + round) << "each dialog starts with empty fields";
}

TEST(ConsoleDialog, StartFailureGoesToStandardError)
{
    TempFile errors;
    {
        Redirect redirect(STDERR_FILENO, errors.fd());
        dlg::reportStartFailure("bind: Address already in use");
    }
    EXPECT_EQ(errors.content(), console::startFailureLine("bind: Address already in use"));
}

TEST(ConsoleDialog, TheMainDialogWithoutAServiceEndsOnSigtermAsCancel)
{
    // The shared dialog procedure on the console, with no service: a stop
    // signal that is already pending when the dialog opens ends it through
    // its Cancel command.
    ASSERT_EQ(gSrv, nullptr);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &term, nullptr), 0);
    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    EXPECT_EQ(dlg::runModal(IDD_MAIN, dlgProc), IDC_CANCEL);
    EXPECT_NE(gDlgWnd, nullptr);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGTERM), 0);
}

}  // namespace
