// The agent's one window: the main dialog that shows the service's state
// twice a second and whose Exit or Cancel stops the service.
#pragma once

#include <string>
#include <vector>

#include "app/dialog_manager.h"

// Dialog template and control ids (IDC_PROGRAM_ICON rather than IDC_ICON,
// which the Windows headers take for a cursor).
#include "app/resource.h"

constexpr unsigned kRefreshTimerId = 112;
constexpr unsigned kRefreshMilliseconds = 500;
// The event list keeps this many of its newest lines: the agent runs for
// months, and every received multicast text adds one.
constexpr std::size_t kEventListLines = 1000;

// The main dialog, remembered on the first message the procedure receives.
extern dlg::Handle gDlgWnd;

bool dlgProc(dlg::Handle dialog, dlg::Message message, dlg::WParam wParam, dlg::LParam lParam);
void refreshDialog();

// Forgets the dialog of an earlier run: the next message's dialog is
// remembered anew and its first refresh shows the OS description and icon.
void resetMainDialog();

// The event log as list lines: each piece between carriage returns that is
// longer than one character; text after the last carriage return is dropped.
std::vector<std::string> splitEventLog(const std::string& log);

// The whole program: starts the service, runs the dialog until Exit or
// Cancel, stops the service. Returns the exit code: 0, or 1 when the service
// could not start. entryName names the entry in the trace.
int runWatchDog(const char* entryName);
