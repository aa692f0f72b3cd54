// The dialog manager on Linux: a console stand-in that shows the main dialog
// as lines on standard output and feeds the dialog procedure the messages the
// real dialog would get:
//   - the timer messages of startTimer, on a fixed schedule (a timerfd);
//     ticks missed while the procedure was busy come as one message, as a
//     windowed timer's do;
//   - Cancel (command 2) for SIGINT, SIGTERM and SIGHUP, taken through a
//     signalfd; the entry blocks these signals before any other thread
//     starts, so that no thread takes them asynchronously;
//   - Exit (command 1) for a line typed on standard input, only when
//     standard input is a terminal. Any other standard input (a service
//     manager's /dev/null, a pipe, a closed descriptor) is not read at all,
//     and a terminal stops being read at its end of file or hang-up.
// Also holds the console's line format (app/console_view.h).
#include "app/console_view.h"
#include "app/dialog_manager.h"
#include "app/main_dialog.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

// ------------------------------------------------------------------ format

namespace console {

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

std::optional<std::string> ConsoleView::setItemText(int id, const std::string& text)
{
    auto shown = mTexts.find(id);
    if (shown == mTexts.end()) {
        if (text.empty())
            return std::nullopt;  // the control starts empty
        mTexts.emplace(id, text);
    } else {
        if (shown->second == text)
            return std::nullopt;
        shown->second = text;
    }
    const char* label = itemLabel(id);
    std::string line = label != nullptr ? label : "Control " + std::to_string(id) + ":";
    line += ' ';
    line += escapeControls(text);
    line += '\n';
    return line;
}

std::string ConsoleView::listLine(int listId, const std::string& line)
{
    const char* label = listLabel(listId);
    std::string shown = label != nullptr ? label : "List " + std::to_string(listId) + ":";
    shown += ' ';
    shown += escapeControls(line);
    shown += '\n';
    return shown;
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
}

std::string startFailureLine(const std::string& reason)
{
    return "watchdog: the watch dog could not start; most likely another copy is running and holds UDP port "
           "45654 (reason: " +
           escapeControls(reason) + ")\n";
}

}  // namespace console

// ------------------------------------------------------------------ dialog

namespace {

// The commands that the dialog manager sends for Enter and for Escape or the
// close box.
constexpr dlg::WParam kExitCommand = 1;
constexpr dlg::WParam kCancelCommand = 2;
// The shortest timer period, as the dialog manager's.
constexpr unsigned kMinimumTimerMilliseconds = 10;

struct Timer {
    unsigned id;
    int fd;
};

// The one console dialog; its address is the dialog's handle.
struct ConsoleDialog {
    bool running = false;
    bool ended = false;
    std::intptr_t result = 0;
    console::ConsoleView view;
    std::vector<Timer> timers;
};

ConsoleDialog gDialog;

ConsoleDialog* dialogOf(dlg::Handle handle)
{
    if (handle != &gDialog || !gDialog.running)
        return nullptr;
    return &gDialog;
}

// Writes text whole to stream and flushes it, so that each line reaches a
// pipe or the journal at once. Output errors are ignored: the console is only
// a view of the service.
void writeLine(std::FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void writeSystemError(const char* what)
{
    writeLine(stderr, std::string("watchdog: ") + what + ": " + std::strerror(errno) + "\n");
}

sigset_t stopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

// Takes every queued stop signal; true when there was one.
bool takeStopSignals(int signalFd)
{
    bool taken = false;
    signalfd_siginfo info;
    for (;;) {
        ssize_t got = ::read(signalFd, &info, sizeof info);
        if (got == static_cast<ssize_t>(sizeof info)) {
            taken = true;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return taken;
    }
}

// Reads what the terminal has; reports whether a whole line came and whether
// the terminal is still worth watching (not at end of file, not hung up).
void readTerminal(bool& lineCame, bool& keepWatching)
{
    char buffer[256];
    ssize_t got;
    do {
        got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    lineCame = got > 0 && std::memchr(buffer, '\n', static_cast<std::size_t>(got)) != nullptr;
    keepWatching = got > 0 || (got < 0 && errno == EAGAIN);
}

void closeTimers()
{
    for (const Timer& timer : gDialog.timers)
        ::close(timer.fd);
    gDialog.timers.clear();
}

}  // namespace

namespace dlg {

std::intptr_t runModal(int /*templateId*/, Procedure procedure)
{
    gDialog.running = true;
    gDialog.ended = false;
    gDialog.result = 0;
    gDialog.view.reset();
    Handle dialog = &gDialog;

    // Already blocked by the entry for every thread; blocked here again for
    // this thread, whose signalfd would not see them otherwise.
    sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    int signalFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    bool watchInput = ::isatty(STDIN_FILENO) == 1;

    if (signalFd < 0) {
        // Without it nothing could stop the dialog: it ends at once, and its
        // Cancel stops the service.
        writeSystemError("cannot watch the stop signals");
        procedure(dialog, kCommand, kCancelCommand, 0);
    } else {
        procedure(dialog, kInitDialog, 0, 0);
    }

    std::vector<pollfd> watched;
    while (!gDialog.ended) {
        watched.clear();
        watched.push_back({signalFd, POLLIN, 0});
        if (watchInput)
            watched.push_back({STDIN_FILENO, POLLIN, 0});
        std::size_t firstTimer = watched.size();
        for (const Timer& timer : gDialog.timers)
            watched.push_back({timer.fd, POLLIN, 0});

        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            writeSystemError("cannot wait for the dialog's events");
            procedure(dialog, kCommand, kCancelCommand, 0);
            break;
        }

        if (watched[0].revents != 0 && takeStopSignals(signalFd)) {
            procedure(dialog, kCommand, kCancelCommand, 0);
            if (gDialog.ended)
                break;
        }
        if (watchInput && watched[1].revents != 0) {
            bool lineCame = false;
            readTerminal(lineCame, watchInput);
            if (lineCame) {
                procedure(dialog, kCommand, kExitCommand, 0);
                if (gDialog.ended)
                    break;
            }
        }
        // The procedure may have started timers during this round; only those
        // that were watched are read.
        for (std::size_t k = firstTimer; k < watched.size() && !gDialog.ended; ++k) {
            if (watched[k].revents == 0)
                continue;
            std::uint64_t expirations = 0;
            if (::read(watched[k].fd, &expirations, sizeof expirations) != sizeof expirations || expirations == 0)
                continue;
            auto timer = std::find_if(gDialog.timers.begin(), gDialog.timers.end(),
                                      [&](const Timer& t) { return t.fd == watched[k].fd; });
            if (timer != gDialog.timers.end())
                procedure(dialog, kTimer, timer->id, 0);
        }
    }

    closeTimers();
    if (signalFd >= 0)
        ::close(signalFd);
    gDialog.running = false;
    return gDialog.result;
}

void startTimer(Handle dialog, unsigned id, unsigned milliseconds)
{
    ConsoleDialog* console = dialogOf(dialog);
    if (console == nullptr)
        return;
    milliseconds = std::max(milliseconds, kMinimumTimerMilliseconds);
    itimerspec schedule{};
    schedule.it_interval.tv_sec = static_cast<time_t>(milliseconds / 1000);
    schedule.it_interval.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    schedule.it_value = schedule.it_interval;

    // A timer id that is already in use is restarted with the new period.
    auto existing = std::find_if(console->timers.begin(), console->timers.end(),
                                 [id](const Timer& timer) { return timer.id == id; });
    int fd = existing != console->timers.end() ? existing->fd
                                                : ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) {
        writeSystemError("cannot create the dialog's timer");
        return;
    }
    if (::timerfd_settime(fd, 0, &schedule, nullptr) != 0) {
        writeSystemError("cannot start the dialog's timer");
        if (existing == console->timers.end())
            ::close(fd);
        return;
    }
    if (existing == console->timers.end())
        console->timers.push_back({id, fd});
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
    if (std::optional<std::string> line = console->view.setItemText(id, text))
        writeLine(stdout, *line);
}

void addListLine(Handle dialog, int listId, const std::string& line)
{
    if (dialogOf(dialog) != nullptr)
        writeLine(stdout, console::ConsoleView::listLine(listId, line));
}

void resetList(Handle dialog, int listId)
{
    if (dialogOf(dialog) != nullptr)
        writeLine(stdout, console::ConsoleView::listClearedLine(listId));
}

void trimList(Handle, int, std::size_t)
{
    // The console keeps no lines: each was printed when it was added.
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
