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
#include <fcntl.h>
#include <functional>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/console_view.h"
#include "app/dialog_manager.h"
#include "app/main_dialog.h"
#include "app/output_queue.h"
#include "service/zq_srv.h"

namespace {

using console::ConsoleView;
using console::escapeControls;

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
    EXPECT_EQ(view.setItemText(IDC_CPU, ""), std::nullopt) << "the field starts empty";
    EXPECT_EQ(view.setItemText(IDC_CPU, "12"), std::optional<std::string>("Total CPU: 12\n"));
    EXPECT_EQ(view.setItemText(IDC_CPU, "12"), std::nullopt);
    EXPECT_EQ(view.setItemText(IDC_CPU, "12"), std::nullopt);
    EXPECT_EQ(view.setItemText(IDC_CPU, "7"), std::optional<std::string>("Total CPU: 7\n"));
    EXPECT_EQ(view.setItemText(IDC_CPU, ""), std::optional<std::string>("Total CPU: \n"))
        << "a field that becomes empty again says so";
    EXPECT_EQ(view.setItemText(IDC_CPU, ""), std::nullopt);
}

TEST(ConsoleViewLines, FieldsAreTrackedEachOnItsOwn)
{
    ConsoleView view;
    EXPECT_EQ(view.setItemText(IDC_ORVANE, "192.168.1.20"), std::optional<std::string>("Orvane: 192.168.1.20\n"));
    EXPECT_EQ(view.setItemText(IDC_CLOUD, "192.168.1.20"), std::optional<std::string>("Cloud: 192.168.1.20\n"));
    EXPECT_EQ(view.setItemText(IDC_COMMON_IPS, "192.168.1.5"),
              std::optional<std::string>("Local IP In Common with Orvane IP: 192.168.1.5\n"));
    EXPECT_EQ(view.setItemText(IDC_ORVANE, "192.168.1.20"), std::nullopt);
    EXPECT_EQ(view.setItemText(IDC_TRIGGER, "0%:1s"), std::optional<std::string>("Trigger: 0%:1s\n"));
    EXPECT_EQ(view.setItemText(IDC_HOST_NAME, "plant-pc-7"), std::optional<std::string>("Host Name: plant-pc-7\n"));
    EXPECT_EQ(view.setItemText(IDC_OS_DESC, "Debian GNU/Linux 12 (bookworm), 64-bit"),
              std::optional<std::string>("OS Description: Debian GNU/Linux 12 (bookworm), 64-bit\n"));
}

TEST(ConsoleViewLines, ResetMakesEveryFieldEmptyAgain)
{
    ConsoleView view;
    ASSERT_TRUE(view.setItemText(IDC_CPU, "3"));
    view.reset();
    EXPECT_EQ(view.setItemText(IDC_CPU, "3"), std::optional<std::string>("Total CPU: 3\n"));
    view.reset();
    EXPECT_EQ(view.setItemText(IDC_CPU, ""), std::nullopt);
}

TEST(ConsoleViewLines, ValuesAreEscapedAndComparedUnescaped)
{
    ConsoleView view;
    EXPECT_EQ(view.setItemText(IDC_CLOUD, "10.0.0.1\x1b[2J\n"),
              std::optional<std::string>("Cloud: 10.0.0.1\\x1b[2J\\n\n"));
    // The raw text is what counts: an escaped look-alike is a change.
    EXPECT_EQ(view.setItemText(IDC_CLOUD, "10.0.0.1\\x1b[2J\\n"),
              std::optional<std::string>("Cloud: 10.0.0.1\\\\x1b[2J\\\\n\n"));
}

TEST(ConsoleViewLines, UnknownControlGetsAGenericLabel)
{
    ConsoleView view;
    EXPECT_EQ(view.setItemText(4711, "x"), std::optional<std::string>("Control 4711: x\n"));
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
                dlg::setItemText(dialog, IDC_CLOUD, "10.0.0.1\r");
                dlg::addListLine(dialog, IDC_EVENT_LIST, " AFTER new zq::ZqServer()");
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
    const std::string round = "Total CPU: 3\nCloud: 10.0.0.1\\r\nEvent:  AFTER new zq::ZqServer()\nEvent list cleared.\n";
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
