// The dialog manager on Linux: a console stand-in that shows the main dialog
// on standard output and feeds the dialog procedure the messages the real
// dialog would get, from an I/O loop of its own.
//
// Where standard output is a terminal, the dialog is a panel redrawn in place
// after each timer message, as the window is (app/console_panel.h), on the
// terminal's alternate screen, which is left again when the dialog ends.
// Elsewhere (the journal, a pipe, a file), and on a terminal that the trace
// has been asked to share, it is lines, one per change (app/console_view.h).
//
// The messages:
//   - the timer messages of startTimer, on a fixed schedule; ticks missed
//     while the procedure was busy come as one message, as a windowed
//     timer's do;
//   - Cancel (command 2) for a stop signal (app/stop_signals.h). The entry
//     blocks them before any other thread starts; the dialog lets them in
//     for its own thread only while it runs, so that no other thread takes
//     them;
//   - Exit (command 1) for a line typed on standard input, only when
//     standard input is a terminal. Any other standard input (a service
//     manager's /dev/null, a pipe, a closed descriptor) is not read at all,
//     and a terminal stops being read at its end of file or hang-up.
//
// While the panel is up, the terminal is given back whenever the process
// leaves it: Ctrl-Z (SIGTSTP) leaves the panel, stops the process and draws
// the panel again when it continues, all from the dialog's loop, after the
// frames queued before; Ctrl-\ (SIGQUIT) and the fatal signals write the
// panel's way out straight from their handler (write() only, which is safe
// there), then take their default action.
#include "app/console_panel.h"
#include "app/console_view.h"
#include "app/dialog_manager.h"
#include "app/stop_signals.h"
#include "trace/output_queue.h"
#include "trace/trace.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

namespace {

namespace asio = boost::asio;
using Clock = std::chrono::steady_clock;

// The commands that the dialog manager sends for Enter and for Escape or the
// close box.
constexpr dlg::WParam kExitCommand = 1;
constexpr dlg::WParam kCancelCommand = 2;
// The shortest timer period, as the dialog manager's.
constexpr unsigned kMinimumTimerMilliseconds = 10;
// Room in standard output's queue kept beside the panel's frame.
constexpr std::size_t kFrameMargin = 1024;

struct Timer {
    Timer(asio::io_context& io, unsigned timerId) : id(timerId), clock(io) {}
    unsigned id;
    Clock::duration period{};
    asio::steady_timer clock;
    // Counts the starts, so that a wait of an earlier schedule that had
    // completed before the restart brings no message.
    unsigned schedule = 0;
};

// The one console dialog; its address is the dialog's handle. The I/O objects
// live while runModal runs.
struct ConsoleDialog {
    bool running = false;
    bool ended = false;
    std::intptr_t result = 0;
    dlg::Procedure procedure = nullptr;
    // Whether the dialog is shown as the panel, else as lines in view.
    bool panel = false;
    console::ConsoleView view;
    console::ConsolePanel panelView;
    asio::io_context* io = nullptr;
    std::vector<std::unique_ptr<Timer>> timers;
    std::optional<asio::signal_set> stopSignals;
    std::optional<asio::signal_set> suspendSignal;
    std::optional<asio::posix::stream_descriptor> terminal;
    std::array<char, 256> typed{};
};

ConsoleDialog gDialog;

// The signals that end the process at once, with the actions they had
// before the panel took them.
constexpr int kEndingSignals[] = {SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction gEndingActions[sizeof kEndingSignals / sizeof kEndingSignals[0]];
// Whether the panel is on the screen, for those signals' handler.
volatile std::sig_atomic_t gPanelShown = 0;

// Leaves the panel with write() alone, then lets the signal take its
// default action (the handler was reset to it on entry): raised again, it
// comes once this handler returns; a fault comes again from its instruction.
extern "C" void leavePanelAndEnd(int signal)
{
    if (gPanelShown != 0) {
        ssize_t ignored = ::write(STDOUT_FILENO, console::kPanelLeave, std::strlen(console::kPanelLeave));
        (void)ignored;
    }
    ::raise(signal);
}

void takeEndingSignals()
{
    struct sigaction action {};
    action.sa_handler = leavePanelAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
        sigaction(kEndingSignals[i], &action, &gEndingActions[i]);
}

void giveBackEndingSignals()
{
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
        sigaction(kEndingSignals[i], &gEndingActions[i], nullptr);
}

ConsoleDialog* dialogOf(dlg::Handle handle)
{
    if (handle != &gDialog || !gDialog.running)
        return nullptr;
    return &gDialog;
}

void send(dlg::Message message, dlg::WParam wParam)
{
    gDialog.procedure(&gDialog, message, wParam, 0);
}

// Writes text whole to stream (standard output or standard error) through
// its output queue: the line goes out as soon as the reader takes it, and a
// reader that stops reading never holds up the dialog. Output errors are
// ignored: the console is only a view of the service.
void writeLine(std::FILE* stream, const std::string& text)
{
    OutputQueue& queue = stream == stderr ? output::standardError() : output::standardOutput();
    queue.write(text.data(), text.size());
}

void writeSystemError(const char* what, const std::string& reason)
{
    writeLine(stderr, std::string(console::kProgramName) + ": " + what + ": " + reason + "\n");
}

// Whether the trace, as the Linux debug output decides it, writes to standard
// error, which is the terminal of standard output.
bool traceOnTheTerminal()
{
    struct stat output;
    struct stat error;
    if (::isatty(STDERR_FILENO) != 1 || ::fstat(STDOUT_FILENO, &output) != 0 || ::fstat(STDERR_FILENO, &error) != 0 ||
        output.st_rdev != error.st_rdev)
        return false;
    return traceWanted(std::getenv("JOURNAL_STREAM"), true, static_cast<unsigned long long>(error.st_dev),
                       static_cast<unsigned long long>(error.st_ino), true, std::getenv("BRINDLEMOOR_WATCHDOG_TRACE"));
}

// The panel where standard output is a terminal, but where the trace writes
// to that terminal too (BRINDLEMOOR_WATCHDOG_TRACE=1): its lines would run
// through the panel, so the dialog prints lines among them instead.
bool panelWanted()
{
    return ::isatty(STDOUT_FILENO) == 1 && !traceOnTheTerminal();
}

// Draws the panel anew for the terminal's present size, when anything
// shown or the size has changed since the last frame.
void redrawPanel()
{
    if (!gDialog.panel || gDialog.ended)
        return;
    winsize size{};
    int rows = 24;
    int columns = 80;
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        rows = size.ws_row;
        columns = size.ws_col;
    }
    // The frame takes the place of one still unsent, and leaves room in the
    // queue for the panel's way in and out and a drop count.
    OutputQueue& queue = output::standardOutput();
    std::size_t limit = queue.capacity() - std::min(queue.capacity() / 2, kFrameMargin);
    std::optional<std::string> frame = gDialog.panelView.redraw(rows, columns, limit);
    if (frame && !queue.writeFrame(frame->data(), frame->size()))
        gDialog.panelView.forgetFrame();
}

// Each stop signal is a Cancel, for as long as the dialog runs.
void awaitStop()
{
    gDialog.stopSignals->async_wait([](const boost::system::error_code& error, int) {
        if (error || gDialog.ended)
            return;
        send(dlg::kCommand, kCancelCommand);
        if (!gDialog.ended)
            awaitStop();
    });
}

// Ctrl-Z: the panel's way out goes after the frames queued before it, then
// the process stops (SIGSTOP, which stops even a process group without a
// shell to continue it, where a default SIGTSTP would be discarded and the
// panel would go on drawing over the shell's screen). Once continued, the
// panel is entered and drawn whole again.
void awaitSuspend()
{
    gDialog.suspendSignal->async_wait([](const boost::system::error_code& error, int) {
        if (error || gDialog.ended)
            return;
        writeLine(stdout, console::kPanelLeave);
        gPanelShown = 0;
        output::standardOutput().flush(std::chrono::seconds(1));
        ::raise(SIGSTOP);
        gPanelShown = 1;
        writeLine(stdout, console::kPanelEnter);
        gDialog.panelView.forgetFrame();
        redrawPanel();
        awaitSuspend();
    });
}

// A line typed on the terminal is Exit; at its end of file or hang-up (any
// failed read) the terminal is no longer read.
void awaitLine()
{
    gDialog.terminal->async_read_some(asio::buffer(gDialog.typed), [](const boost::system::error_code& error,
                                                                     std::size_t got) {
        if (error || gDialog.ended)
            return;
        if (std::memchr(gDialog.typed.data(), '\n', got) != nullptr) {
            send(dlg::kCommand, kExitCommand);
            if (gDialog.ended)
                return;
        }
        awaitLine();
    });
}

// The next tick of timer on its fixed schedule. The next expiry is set before
// the procedure runs; if the procedure outlasts whole periods, the ticks it
// missed are skipped and come as the one message of the next completion.
void awaitTick(Timer& timer)
{
    timer.clock.async_wait([&timer, schedule = timer.schedule](const boost::system::error_code& error) {
        if (error || gDialog.ended || schedule != timer.schedule)
            return;
        Clock::time_point next = timer.clock.expiry() + timer.period;
        Clock::time_point now = Clock::now();
        if (next <= now)
            next += ((now - next) / timer.period + 1) * timer.period;
        timer.clock.expires_at(next);
        awaitTick(timer);
        send(dlg::kTimer, timer.id);
        redrawPanel();
    });
}

// A descriptor of the dialog's own for the terminal on standard input, or
// none when standard input is no terminal. The terminal is opened again by
// its name, since Asio makes the descriptors it waits on non-blocking, and
// standard input's open file is shared with standard output and the shell;
// where that fails, a duplicate of standard input is used and its file flags
// are put back when the dialog ends (restoreFlags).
int openTerminal(int& restoreFlags)
{
    restoreFlags = -1;
    if (::isatty(STDIN_FILENO) != 1)
        return -1;
    const char* name = ::ttyname(STDIN_FILENO);
    int fd = name != nullptr ? ::open(name, O_RDONLY | O_NOCTTY | O_CLOEXEC) : -1;
    if (fd < 0) {
        restoreFlags = ::fcntl(STDIN_FILENO, F_GETFL);
        fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    }
    return fd;
}

// Lets the stop signals in for this thread (the entry blocked them for all),
// so that the dialog's signal set takes them; the returned mask puts back the
// caller's.
sigset_t unblockStopSignals()
{
    sigset_t signals = console::stopSignalMask();
    sigset_t callers;
    pthread_sigmask(SIG_UNBLOCK, &signals, &callers);
    return callers;
}

}  // namespace

namespace dlg {

std::intptr_t runModal(int /*templateId*/, Procedure procedure)
{
    asio::io_context io;
    // The dialog waits until it ends, even with nothing left to watch.
    auto waiting = asio::make_work_guard(io);
    gDialog.running = true;
    gDialog.ended = false;
    gDialog.result = 0;
    gDialog.procedure = procedure;
    gDialog.view.reset();
    gDialog.panelView.reset();
    gDialog.panel = panelWanted();
    gDialog.io = &io;
    if (gDialog.panel) {
        writeLine(stdout, console::kPanelEnter);
        gPanelShown = 1;
        takeEndingSignals();
        boost::system::error_code ignored;
        gDialog.suspendSignal.emplace(io);
        gDialog.suspendSignal->add(SIGTSTP, ignored);
        awaitSuspend();
    }

    gDialog.stopSignals.emplace(io);
    boost::system::error_code signalError;
    for (int signal : console::kStopSignals) {
        if (!signalError)
            gDialog.stopSignals->add(signal, signalError);
    }
    sigset_t callersMask;
    if (signalError)
        pthread_sigmask(SIG_SETMASK, nullptr, &callersMask);  // they stay blocked
    else
        callersMask = unblockStopSignals();

    int restoreFlags = -1;
    int terminal = openTerminal(restoreFlags);
    if (terminal >= 0)
        gDialog.terminal.emplace(io, terminal);

    if (signalError) {
        // Without them nothing could stop the dialog: it ends at once, and its
        // Cancel stops the service.
        writeSystemError("cannot watch the stop signals", signalError.message());
        send(kCommand, kCancelCommand);
    } else {
        awaitStop();
        send(kInitDialog, 0);
        redrawPanel();
    }
    if (gDialog.terminal)
        awaitLine();

    while (!gDialog.ended) {
        try {
            io.run_one();
        } catch (const boost::system::system_error& failure) {
            writeSystemError("cannot wait for the dialog's events", failure.code().message());
            send(kCommand, kCancelCommand);
            break;
        }
    }

    // Signals that come from here on stay pending, blocked as the caller had
    // them, before the signal set gives them back their default action.
    pthread_sigmask(SIG_SETMASK, &callersMask, nullptr);
    gDialog.timers.clear();
    gDialog.terminal.reset();
    gDialog.stopSignals.reset();
    gDialog.suspendSignal.reset();
    if (restoreFlags >= 0)
        ::fcntl(STDIN_FILENO, F_SETFL, restoreFlags);
    if (gDialog.panel) {
        writeLine(stdout, console::kPanelLeave);
        gPanelShown = 0;
        giveBackEndingSignals();
    }
    gDialog.panel = false;
    gDialog.io = nullptr;
    gDialog.running = false;
    return gDialog.result;
}

void startTimer(Handle dialog, unsigned id, unsigned milliseconds)
{
    ConsoleDialog* console = dialogOf(dialog);
    if (console == nullptr)
        return;
    // A timer id that is already in use is restarted with the new period.
    auto existing = std::find_if(console->timers.begin(), console->timers.end(),
                                 [id](const std::unique_ptr<Timer>& timer) { return timer->id == id; });
    if (existing == console->timers.end())
        existing = console->timers.insert(console->timers.end(), std::make_unique<Timer>(*console->io, id));
    Timer& timer = **existing;
    timer.period = std::chrono::milliseconds(std::max(milliseconds, kMinimumTimerMilliseconds));
    ++timer.schedule;
    timer.clock.expires_after(timer.period);
    awaitTick(timer);
}

bool drawn(Handle dialog)
{
    ConsoleDialog* console = dialogOf(dialog);
    return console != nullptr && console->panel;
}

void endDialog(Handle dialog, std::intptr_t result)
{
    ConsoleDialog* console = dialogOf(dialog);
    if (console == nullptr)
        return;
    console->ended = true;
    console->result = result;
}

void setItemText(Handle dialog, int id, const std::string& text)
{
    ConsoleDialog* console = dialogOf(dialog);
    if (console == nullptr)
        return;
    if (console->panel)
        console->panelView.setItemText(id, text);
    else if (std::optional<std::string> line = console->view.setItemText(id, text, Clock::now()))
        writeLine(stdout, *line);
}

void addListLine(Handle dialog, int listId, const std::string& line)
{
    ConsoleDialog* console = dialogOf(dialog);
    if (console == nullptr)
        return;
    if (console->panel)
        console->panelView.addEvent(line);
    else
        writeLine(stdout, console::ConsoleView::listLine(listId, line));
}

void resetList(Handle dialog, int listId)
{
    ConsoleDialog* console = dialogOf(dialog);
    if (console == nullptr)
        return;
    if (console->panel)
        console->panelView.clearEvents();
    else
        writeLine(stdout, console::ConsoleView::listClearedLine(listId));
}

void trimList(Handle dialog, int, std::size_t keep)
{
    // As lines, the console keeps none: each was printed when it was added.
    ConsoleDialog* console = dialogOf(dialog);
    if (console != nullptr && console->panel)
        console->panelView.trimEvents(keep);
}

void showAlarms(Handle dialog, unsigned long alarms, const std::string& lastAlarm)
{
    ConsoleDialog* console = dialogOf(dialog);
    if (console == nullptr || console->panel)
        return;
    if (std::optional<std::string> line = console->view.alarmLine(alarms, lastAlarm))
        writeLine(stdout, *line);
}

void showProgramIcon(Handle, int, int)
{
    // A console has no icon to show.
}

void reportStartFailure(const std::string& reason)
{
    writeLine(stderr, console::startFailureLine(reason));
}

}  // namespace dlg
