// The main dialog's logic, the same on every platform: the dialog procedure,
// the periodic refresh and the program's run from start to exit.
#include "app/main_dialog.h"

#include <exception>

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include "app/view_client.h"
#include "service/zq_srv.h"
#include "trace/trace.h"

dlg::Handle gDlgWnd = nullptr;
ViewClient* gView = nullptr;

namespace {
// Set by the first refresh, which alone shows the OS description and icon.
bool gOsDescShown = false;
}  // namespace

bool dlgProc(dlg::Handle dialog, dlg::Message message, dlg::WParam wParam, dlg::LParam)
{
    if (gDlgWnd == nullptr) {
        gDlgWnd = dialog;
        dlg::startTimer(dialog, kRefreshTimerId,
                        dlg::drawn(dialog) ? kRefreshMilliseconds : kPrintedRefreshMilliseconds);
    }
    switch (message) {
    case dlg::kInitDialog:
        return true;
    case dlg::kCommand: {
        int command = static_cast<int>(wParam & 0xFFFF);
        if (command == IDC_EXIT || command == IDC_CANCEL) {
            if (gSrv != nullptr) {
                // Returns once the service has stopped.
                delete gSrv;
                gSrv = nullptr;
            }
            // A view closes itself only; the agent it shows runs on.
            delete gView;
            gView = nullptr;
            dlg::endDialog(dialog, command);
            return true;
        }
        if (command == IDC_CLEAR)
            dlg::resetList(dialog, IDC_EVENT_LIST);
        return false;
    }
    case dlg::kTimer:
        if (gSrv != nullptr || gView != nullptr)
            refreshDialog();
        return false;
    default:
        return false;
    }
}

DialogUpdate localUpdate(bool withOsDesc)
{
    DialogUpdate update;
    update.hasTexts = true;
    update.texts.cpuUsage = zq::ZqSrv::getCpuUsage();
    if (withOsDesc)
        update.texts.osDesc = zq::ZqSrv::getOsDesc();
    update.texts.hostName = zq::ZqSrv::getHostName();
    update.texts.commonLocalIps = zq::ZqSrv::getCommonLocalIps();
    update.texts.triggerText = zq::ZqSrv::getTriggerText();
    update.texts.orvane = zq::ZqSrv::getOrvane();
    update.texts.cloud = zq::ZqSrv::getCloud();
    // The count first: the text is already the one of that alarm or later.
    update.hasAlarms = true;
    update.alarmsSent = zq::ZqSrv::getAlarmsSent();
    update.lastAlarm = zq::ZqSrv::getLastAlarm();
    update.lines = splitEventLog(zq::ZqSrv::takeEventLog());
    return update;
}

void refreshDialog()
{
    showUpdate(gView != nullptr ? gView->poll() : localUpdate(!gOsDescShown));
}

void showUpdate(const DialogUpdate& update)
{
    // A view whose agent does not answer keeps the texts it showed last.
    if (update.hasTexts) {
        const zq::ViewTexts& texts = update.texts;
        dlg::setItemText(gDlgWnd, IDC_CPU, texts.cpuUsage);
        if (!gOsDescShown) {
            gOsDescShown = true;
            dlg::setItemText(gDlgWnd, IDC_OS_DESC, texts.osDesc);
            dlg::showProgramIcon(gDlgWnd, IDI_PROGRAM, IDC_PROGRAM_ICON);
        }
        dlg::setItemText(gDlgWnd, IDC_HOST_NAME, texts.hostName);
        dlg::setItemText(gDlgWnd, IDC_COMMON_IPS, texts.commonLocalIps);
        dlg::setItemText(gDlgWnd, IDC_TRIGGER, texts.triggerText);
        dlg::setItemText(gDlgWnd, IDC_ORVANE, texts.orvane);
        dlg::setItemText(gDlgWnd, IDC_CLOUD, texts.cloud);
    }
    // A view learns of no alarms; the agent's own console prints them.
    if (update.hasAlarms)
        dlg::showAlarms(gDlgWnd, update.alarmsSent, update.lastAlarm);
    const std::vector<std::string>& lines = update.lines;
    if (lines.empty())
        return;
    // Of a flood only the lines that the list would keep are added.
    std::size_t first = lines.size() > kEventListLines ? lines.size() - kEventListLines : 0;
    for (std::size_t i = first; i < lines.size(); ++i)
        dlg::addListLine(gDlgWnd, IDC_EVENT_LIST, lines[i]);
    dlg::trimList(gDlgWnd, IDC_EVENT_LIST, kEventListLines);
}

void resetMainDialog()
{
    gDlgWnd = nullptr;
    gOsDescShown = false;
}


namespace {

// Whether a start failed because another program holds the request port.
bool portHeld(const std::exception& error)
{
    auto* failure = dynamic_cast<const boost::system::system_error*>(&error);
    return failure != nullptr && failure->code() == boost::asio::error::address_in_use;
}

}  // namespace

int runWatchDogView(const char* entryName)
{
    try {
        gView = new ViewClient();
    } catch (const std::exception& error) {
        trace("*** EXCEPTION  %s\n", entryName);
        dlg::reportStartFailure(error.what());
        return 1;
    }
    trace("%s  VIEW OF THE AGENT AT=[%s]\n", entryName, gView->agentText().c_str());
    resetMainDialog();
    dlg::runModal(IDD_MAIN, dlgProc);
    delete gView;
    gView = nullptr;
    return 0;
}

int runWatchDog(const char* entryName)
{
    // One agent per machine: a further start is a view of it.
    if (agentAnswers())
        return runWatchDogView(entryName);
    try {
        gSrv = new zq::ZqSrv();
    } catch (const std::exception& error) {
        trace("*** EXCEPTION  %s\n", entryName);
        // An agent that was starting while this one probed answers now.
        if (portHeld(error) && agentAnswers(kViewStartingAgentTimeout))
            return runWatchDogView(entryName);
        dlg::reportStartFailure(error.what());
        return 1;
    } catch (...) {
        trace("*** EXCEPTION  %s\n", entryName);
        dlg::reportStartFailure("unknown error");
        return 1;
    }
    resetMainDialog();
    dlg::runModal(IDD_MAIN, dlgProc);
    // Normally Exit or Cancel has stopped the service already.
    delete gSrv;
    gSrv = nullptr;
    return 0;
}
