// The Linux console dialog: its line format (escaping, labels, printing on
// change only, the CPU line's interval, alarm lines), its terminal panel's
// frames and its message loop (timer schedule, stop signals, Enter on a
// terminal, standard input that is not a terminal).
#include <gtest/gtest.h>

#include <algorithm>
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
#include <tuple>
#include <unistd.h>
#include <vector>

#include "app/console_panel.h"
#include "app/console_view.h"
#include "app/dialog_manager.h"
#include "app/main_dialog.h"
#include "service/zq_srv.h"
#include "trace/output_queue.h"

namespace {

using console::ConsoleView;
using console::escapeControls;

const ConsoleView::Clock::time_point kStart{std::chrono::hours(1000)};

// ------------------------------------------------------------------ escaping

TEST(ConsoleEscape, PrintableTextAndTabStayAsTheyAre)
{
    EXPECT_EQ(escapeControls("Total\tCPU: 12 % <a b=\"c\">"), "Total\tCPU: 12 % <a b=\"c\">");
    // A panel row lets no tab through; the trace keeps its own line ends.
    EXPECT_EQ(escapeControls("a\tb\nc\x1b", console::Pass::Nothing), "a\\tb\\nc\\x1b");
    EXPECT_EQ(escapeControls("a\tb\nc\r\x1b\\", console::Pass::LineFeedAndTab), "a\tb\nc\\r\\x1b\\\\");
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

TEST(ConsoleEscape, EveryByteOutsidePrintableAsciiBecomesAnEscapeOfItsOwn)
{
    for (int byte = 0; byte < 0x100; ++byte) {
        std::string in = std::string("<") + static_cast<char>(byte) + ">";
        std::string out = escapeControls(in);
        SCOPED_TRACE("byte " + std::to_string(byte));
        ASSERT_GE(out.size(), 3u);
        EXPECT_EQ(out.front(), '<');
        EXPECT_EQ(out.back(), '>');
        std::string shown = out.substr(1, out.size() - 2);
        for (char c : shown)
            EXPECT_TRUE((c >= 0x20 && c < 0x7f) || c == '\t') << "unescaped byte in " << shown;
        char expected[8];
        if (byte == '\n' || byte == '\r' || byte == '\\')
            std::snprintf(expected, sizeof expected, "\\%c", byte == '\n' ? 'n' : byte == '\r' ? 'r' : '\\');
        else if (byte == '\t' || (byte >= 0x20 && byte < 0x7f))
            std::snprintf(expected, sizeof expected, "%c", byte);
        else
            std::snprintf(expected, sizeof expected, "\\x%02x", byte);
        EXPECT_EQ(shown, expected);
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

TEST(ConsoleEscape, BytesFromHexEightyUpAreEscapedUtf8Included)
{
    // A one-byte control sequence introducer, alone and as U+009B in UTF-8.
    EXPECT_EQ(escapeControls("\x9b" "2J|\xc2\x9b" "2J"), "\\x9b2J|\\xc2\\x9b2J");
    EXPECT_EQ(escapeControls("Debian GNU/Linux \xc3\xa9t\xc3\xa9"), "Debian GNU/Linux \\xc3\\xa9t\\xc3\\xa9");
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
    EXPECT_EQ(view.setItemText(IDC_ORVANE, "192.168.1.20", kStart),
              std::optional<std::string>("Orvane: 192.168.1.20\n"));
    EXPECT_EQ(view.setItemText(IDC_CLOUD, "192.168.1.20", kStart), std::optional<std::string>("Cloud: 192.168.1.20\n"));
    EXPECT_EQ(view.setItemText(IDC_COMMON_IPS, "192.168.1.5", kStart),
              std::optional<std::string>("Local IP In Common with Orvane IP: 192.168.1.5\n"));
    EXPECT_EQ(view.setItemText(IDC_ORVANE, "192.168.1.20", kStart), std::nullopt);
    EXPECT_EQ(view.setItemText(IDC_TRIGGER, "0%:1s", kStart), std::optional<std::string>("Trigger: 0%:1s\n"));
    EXPECT_EQ(view.setItemText(IDC_HOST_NAME, "plant-pc-7", kStart),
              std::optional<std::string>("Host Name: plant-pc-7\n"));
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
    EXPECT_EQ(line.rfind("brindlemoor-watchdog: the watch dog could not start;", 0), 0u) << line;
    EXPECT_NE(line.find("could not start"), std::string::npos) << line;
    EXPECT_NE(line.find("45654"), std::string::npos) << line;
    EXPECT_NE(line.find("bind: Address already in use\\r\\n"), std::string::npos) << line;
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line only";
}

// ------------------------------------------------------------------ the journal's and pipes' rules

TEST(ConsoleViewLines, TheCpuLineComesAtMostOnceInTenMinutesOthersAtOnce)
{
    using std::chrono::seconds;
    // (seconds after the start, CPU text, line expected or ""), in order.
    const std::tuple<int, const char*, const char*> steps[] = {
        {1, "5", "Total CPU: 5\n"}, {2, "7", ""}, {600, "9", ""},  // 9:59 after the first line
        {601, "9", "Total CPU: 9\n"}, {660, "3", ""}, {1800, "9", ""}, {1860, "4", "Total CPU: 4\n"}};
    ConsoleView view;
    for (const auto& [at, cpu, line] : steps) {
        SCOPED_TRACE(at);
        EXPECT_EQ(view.setItemText(IDC_CPU, cpu, kStart + seconds(at)).value_or(""), line);
        EXPECT_EQ(view.setItemText(IDC_CLOUD, std::to_string(at), kStart + seconds(at)).value_or(""),
                  "Cloud: " + std::to_string(at) + "\n");
    }
}

TEST(ConsoleViewLines, EachNewCpuAlarmIsOneEscapedLine)
{
    ConsoleView view;
    EXPECT_EQ(view.alarmLine(0, ""), std::nullopt);
    EXPECT_EQ(view.alarmLine(1, "97% sent to 192.168.1.10:34543 from 192.168.1.5").value_or(""),
              "CPU alarm: 97% sent to 192.168.1.10:34543 from 192.168.1.5\n");
    EXPECT_EQ(view.alarmLine(1, "97% sent to 192.168.1.10:34543 from 192.168.1.5"), std::nullopt);
    EXPECT_EQ(view.alarmLine(2, "100% sent to 10.0.0.1:9\r\n").value_or(""),
              "CPU alarm: 100% sent to 10.0.0.1:9\\r\\n\n");
}

// ------------------------------------------------------------------ the terminal panel

// The screen after a frame is played on a terminal of rows by columns that
// shows `.` where nothing was drawn. It knows what a frame may use: cursor
// positioning, erasing to the end of the line or screen, printable bytes;
// anything else, or a byte past the right edge, fails the test.
std::vector<std::string> play(const std::string& frame, int rows, int columns)
{
    std::vector<std::string> screen(static_cast<std::size_t>(rows),
                                    std::string(static_cast<std::size_t>(columns), '.'));
    std::size_t row = 0, column = 0;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (frame.compare(i, 2, "\x1b[") == 0) {
            std::size_t end = frame.find_first_of("HKJ", i);
            if (frame[end] == 'H') {
                std::sscanf(frame.c_str() + i + 2, "%zu;%zu", &row, &column);
                --row, --column;
            } else {
                // Erase to the end of the line (K), and of the screen (J).
                std::size_t last = frame[end] == 'J' ? screen.size() : row + 1;
                for (std::size_t r = row; r < last; ++r)
                    std::fill(screen[r].begin() + static_cast<long>(r == row ? column : 0), screen[r].end(), ' ');
            }
            i = end;
        } else if (frame[i] >= 0x20 && frame[i] < 0x7f && row < screen.size() && column < screen[row].size()) {
            screen[row][column++] = frame[i];
        } else {
            ADD_FAILURE() << "byte " << int(frame[i]) << " at row " << row << ", column " << column;
            break;
        }
    }
    for (std::string& line : screen)
        line.erase(line.find_last_not_of(' ') + 1);
    return screen;
}

TEST(ConsolePanelFrame, FieldsAndTheNewestEventsCutToTheTerminalsSize)
{
    // A tab would be widened by the terminal after the row was cut.
    const std::map<int, std::string> fields = {{IDC_CPU, "12"}, {IDC_CLOUD, "10.0.0.9\x1b[2J\t"}};
    const std::deque<std::string> events = {" BEFORE new zq::ZqServer()", " AFTER new zq::ZqServer()", " RX \x07\n\t"};
    const std::vector<std::string> all = {
        "Brindlemoor Win32 Watch Dog 1.0.0.4", "Total CPU: 12", "OS Description:", "Host Name:",
        "Local IP In Common with Orvane IP:", "Trigger:", "Orvane:", "Cloud: 10.0.0.9\\x1b[2J\\t", "Events:",
        " BEFORE new zq::ZqServer()", " AFTER new zq::ZqServer()", " RX \\x07\\n\\t"};
    // Rows, columns, the frame's byte limit, and the rows of all shown (-1:
    // a cleared row).
    const std::size_t none = std::string::npos;
    const std::tuple<int, int, std::size_t, std::vector<int>> cases[] = {
        {13, 80, none, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -1}},  // all fit, the rest cleared
        {10, 80, none, {0, 1, 2, 3, 4, 5, 6, 7, 8, 11}},             // only the newest event fits
        {9, 80, none, {0, 1, 2, 3, 4, 5, 6, 7, -1}},                 // no room for an event
        {3, 35, none, {0, 1, 2}},                                    // the title exactly as wide
        {12, 12, none, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},      // each row cut to the width
        {13, 80, 320, {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, -1, -1}},  // too many bytes: the oldest event goes
        {13, 80, 200, {0, 1, 2, 3, 4, 5, 6, -1, -1, -1, -1, -1, -1}},  // then the bottom rows
    };
    for (const auto& [rows, columns, limit, picks] : cases) {
        SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(columns));
        std::vector<std::string> expected;
        for (int pick : picks) {
            std::string row = pick < 0 ? "" : all[static_cast<std::size_t>(pick)];
            row.resize(std::min(row.size(), static_cast<std::size_t>(columns)));
            expected.push_back(row.erase(row.find_last_not_of(' ') + 1));
        }
        std::string frame = console::renderPanel(fields, events, rows, columns, limit);
        EXPECT_LE(frame.size(), limit);
        EXPECT_EQ(play(frame, rows, columns), expected);
    }
    // However wide the terminal, the frame stays within its limit.
    EXPECT_EQ(console::renderPanel(fields, events, 2, 100000, 40).size(), 40u);
    EXPECT_EQ(console::renderPanel(fields, events, 0, 80), "");
    EXPECT_EQ(console::renderPanel(fields, events, 24, 0), "");
}

TEST(ConsolePanelFrame, RedrawnOnlyWhenSomethingOrTheSizeChanged)
{
    console::ConsolePanel panel;
    // Each step, then whether it brings a frame at the given size.
    const std::tuple<std::function<void()>, int, bool> steps[] = {
        {[] {}, 24, true},  {[] {}, 24, false}, {[&] { panel.setItemText(IDC_CPU, "3"); }, 24, true},
        {[&] { panel.setItemText(IDC_CPU, "3"); }, 24, false}, {[] {}, 30, true},
        {[&] { panel.addEvent(" one"); }, 30, true}, {[&] { panel.trimEvents(1); }, 30, false},
        {[&] { panel.trimEvents(0); }, 30, true}, {[&] { panel.reset(); }, 30, true}};
    int step = 0;
    for (const auto& [change, rows, drawn] : steps) {
        change();
        EXPECT_EQ(panel.redraw(rows, 80).has_value(), drawn) << "step " << step++;
    }
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
        // The dialog's lines go out through the output queues' writers.
        output::flushStandardStreams();
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
