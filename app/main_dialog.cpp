// The main dialog's logic, the same on every platform: the dialog procedure,
// the periodic refresh and the program's run from start to exit.
#include "app/main_dialog.h"

#include <exception>

#include "app/trace.h"
#include "service/zq_srv.h"

dlg::Handle gDlgWnd = nullptr;

namespace {
// Set by the first refresh, which alone shows the OS description and icon.
bool gOsDescShown = false;
}  // namespace

bool dlgProc(dlg::Handle dialog, dlg::Message message, dlg::WParam wParam, dlg::LParam)
{
    if (gDlgWnd == nullptr) {
        gDlgWnd = dialog;
        dlg::startTimer(dialog, kRefreshTimerId, kRefreshMilliseconds);
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
            dlg::endDialog(dialog, command);
            return true;
        }
        if (command == IDC_CLEAR)
            dlg::resetList(dialog, IDC_EVENT_LIST);
        return false;
    }
    case dlg::kTimer:
        if (gSrv != nullptr)
            refreshDialog();
        return false;
    default:
        return false;
    }
}

void refreshDialog()
{
    dlg::setItemText(gDlgWnd, IDC_CPU, zq::ZqSrv::getCpuUsage());
    if (!gOsDescShown) {
        gOsDescShown = true;
        dlg::setItemText(gDlgWnd, IDC_OS_DESC, zq::ZqSrv::getOsDesc());
        dlg::showProgramIcon(gDlgWnd, IDI_PROGRAM, IDC_PROGRAM_ICON);
    }
    dlg::setItemText(gDlgWnd, IDC_HOST_NAME, zq::ZqSrv::getHostName());
    dlg::setItemText(gDlgWnd, IDC_COMMON_IPS, zq::ZqSrv::getCommonLocalIps());
    dlg::setItemText(gDlgWnd, IDC_TRIGGER, zq::ZqSrv::getTriggerText());
    dlg::setItemText(gDlgWnd, IDC_ORVANE, zq::ZqSrv::getOrvane());
    dlg::setItemText(gDlgWnd, IDC_CLOUD, zq::ZqSrv::getCloud());
    // The count first: the text is already the one of that alarm or later.
    unsigned long alarms = zq::ZqSrv::getAlarmsSent();
    dlg::showAlarms(gDlgWnd, alarms, zq::ZqSrv::getLastAlarm());
    std::vector<std::string> lines = splitEventLog(zq::ZqSrv::takeEventLog());
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

std::vector<std::string> splitEventLog(const std::string& log)
{
    std::vector<std::string> lines;
    std::string::size_type position = 0;
    while (position < log.size()) {
        std::string::size_type end = log.find('\r', position);
        if (end == std::string::npos)
            break;
        if (end - position > 1)
            lines.push_back(log.substr(position, end - position));
        position = end + 1;
    }
    return lines;
}

int runWatchDog(const char* entryName)
{
    try {
        gSrv = new zq::ZqSrv();
    } catch (const std::exception& error) {
        trace("*** EXCEPTION  %s\n", entryName);
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
