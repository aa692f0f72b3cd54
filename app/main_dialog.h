// The agent's one window: the main dialog that shows the service's state
// twice a second and whose Exit or Cancel stops the service. The same dialog
// is also a view of an agent that runs already (in another program or as a
// service): fed from it through the view channel, and closing only itself.
#pragma once

#include <string>
#include <vector>

#include "app/dialog_manager.h"
#include "net/view_protocol.h"

// Dialog template and control ids (IDC_PROGRAM_ICON rather than IDC_ICON,
// which the Windows headers take for a cursor).
#include "app/resource.h"

constexpr unsigned kRefreshTimerId = 112;
constexpr unsigned kRefreshMilliseconds = 500;
// Where the dialog is printed as lines, a change is printed within a second:
// nothing on screen goes stale, and the agent wakes half as often at rest.
constexpr unsigned kPrintedRefreshMilliseconds = 1000;
// The event list keeps this many of its newest lines: the agent runs for
// months, and every received multicast text adds one.
constexpr std::size_t kEventListLines = 1000;

// The main dialog, remembered on the first message the procedure receives.
extern dlg::Handle gDlgWnd;

class ViewClient;
// The view client while the dialog is a view of a running agent, else null.
extern ViewClient* gView;

// What one refresh shows, from the local service or from the view client:
// the seven texts (when the source has them) and the new event-list lines.
struct DialogUpdate {
    bool hasTexts = false;
    zq::ViewTexts texts;
    std::vector<std::string> lines;
    // The CPU alarms sent so far and the last one's text (local service only).
    bool hasAlarms = false;
    unsigned long alarmsSent = 0;
    std::string lastAlarm;
};
// The local service's update, through the façade. The OS description is
// computed only when withOsDesc (the first refresh alone shows it).
DialogUpdate localUpdate(bool withOsDesc);
// Shows update in the dialog.
void showUpdate(const DialogUpdate& update);

bool dlgProc(dlg::Handle dialog, dlg::Message message, dlg::WParam wParam, dlg::LParam lParam);
void refreshDialog();

// Forgets the dialog of an earlier run: the next message's dialog is
// remembered anew and its first refresh shows the OS description and icon.
void resetMainDialog();


// The whole program: when an agent answers on this machine already, the
// dialog is a view of it (runWatchDogView). Otherwise starts the service,
// runs the dialog until Exit or Cancel and stops the service; if the start
// fails because the request port is held and an agent then answers, the
// dialog is a view after all. Returns the exit code: 0, or 1 when the
// service could not start. entryName names the entry in the trace.
int runWatchDog(const char* entryName);

// The dialog as a view of the agent that runs on this machine, waiting for it
// if it does not answer yet; Exit and Cancel close the view only. Returns 0,
// or 1 when the view's socket cannot be opened.
int runWatchDogView(const char* entryName);
