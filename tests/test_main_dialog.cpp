// The main dialog's logic over a recording dialog manager.
#include <gtest/gtest.h>

#include <boost/asio/ip/udp.hpp>

#include "app/main_dialog.h"
#include "fakes/plant_host.h"
#include "fakes/recording_dialog.h"
#include "service/zq_srv.h"

namespace {

using recordingdialog::Call;

std::vector<Call> callsOf(const std::string& what)
{
    std::vector<Call> found;
    for (const Call& call : recordingdialog::calls())
        if (call.what == what)
            found.push_back(call);
    return found;
}

std::string textOf(int id)
{
    std::string text = "<never set>";
    for (const Call& call : callsOf("text"))
        if (call.id == id)
            text = call.text;
    return text;
}

// Each test starts with a dialog that no run has seen yet, on the plant host.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        planthost::use({"127.0.0.1"});
        resetMainDialog();
        recordingdialog::clear();
    }
};
using MainDialog = DialogTest;
using RunWatchDog = DialogTest;

}  // namespace

TEST(SplitEventLog, PiecesBetweenCarriageReturns)
{
    EXPECT_EQ(splitEventLog("\r BEFORE new zq::ZqServer()\r\n\r AFTER new zq::ZqServer()\r\n"),
              (std::vector<std::string>{" BEFORE new zq::ZqServer()", " AFTER new zq::ZqServer()"}));
    EXPECT_EQ(splitEventLog("\r ZqServer= *** EXCEPTION  ZqServer::run\n\r\r MulticastRX= beaconCfgAlarm\r"),
              (std::vector<std::string>{" ZqServer= *** EXCEPTION  ZqServer::run\n", " MulticastRX= beaconCfgAlarm"}));
    EXPECT_TRUE(splitEventLog("").empty());
    EXPECT_TRUE(splitEventLog("no carriage return at all").empty());
    EXPECT_EQ(splitEventLog("x\r\ry\rab\rtail"), (std::vector<std::string>{"ab"}));  // one-character pieces skipped
}

TEST_F(MainDialog, ProcedureRefreshAndExit)
{
    gEventLog.take();

    // Before the service exists: the first message starts the refresh timer,
    // and timer messages refresh nothing.
    dlg::Handle dialog = reinterpret_cast<dlg::Handle>(0x1234);
    EXPECT_TRUE(dlgProc(dialog, dlg::kInitDialog, 0, 0));
    EXPECT_EQ(gDlgWnd, dialog);
    EXPECT_FALSE(dlgProc(dialog, dlg::kTimer, kRefreshTimerId, 0));
    EXPECT_FALSE(dlgProc(dialog, 0x0200, 0, 0));
    auto timers = callsOf("timer");
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_EQ(timers[0].id, 112);
    EXPECT_EQ(timers[0].text, "500");
    EXPECT_TRUE(callsOf("text").empty());
    // A dialog printed as lines is refreshed once a second.
    recordingdialog::setDrawn(false);
    resetMainDialog();
    dlgProc(dialog, dlg::kTimer, kRefreshTimerId, 0);
    recordingdialog::setDrawn(true);
    EXPECT_EQ(callsOf("timer").back().text, "1000");

    gSrv = new zq::ZqSrv();
    gSrv->mServer->mTriggerText.set("90%:30s");
    gSrv->mServer->mCloudServer.set("10.1.2.3");
    gSrv->mServer->mLastAlarm.set("97% sent to 10.1.2.4:34543 from 10.1.2.5");
    gSrv->mServer->mAlarmsSent = 2;
    EXPECT_FALSE(dlgProc(dialog, dlg::kTimer, kRefreshTimerId, 0));

    EXPECT_EQ(textOf(IDC_CPU), "0");
    EXPECT_EQ(textOf(IDC_OS_DESC), zq::ZqSrv::getOsDesc());
    EXPECT_EQ(textOf(IDC_HOST_NAME), "");
    EXPECT_EQ(textOf(IDC_COMMON_IPS), "");
    EXPECT_EQ(textOf(IDC_TRIGGER), "90%:30s");
    EXPECT_EQ(textOf(IDC_ORVANE), "");
    EXPECT_EQ(textOf(IDC_CLOUD), "10.1.2.3");
    auto lines = callsOf("line");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].id, IDC_EVENT_LIST);
    EXPECT_EQ(lines[0].text, " BEFORE new zq::ZqServer()");
    EXPECT_EQ(lines[1].text, " AFTER new zq::ZqServer()");
    auto alarms = callsOf("alarms");
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0].id, 2);
    EXPECT_EQ(alarms[0].text, "97% sent to 10.1.2.4:34543 from 10.1.2.5");
    auto icons = callsOf("icon");
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].id, 105);
    EXPECT_EQ(icons[0].text, "1001");

    // Later refreshes set every field again, but the OS description and the
    // icon only once; the event log is drained each time.
    recordingdialog::clear();
    noteException("ZqServer::run");
    noteException("ZqServer::run");
    dlgProc(dialog, dlg::kTimer, kRefreshTimerId, 0);
    EXPECT_EQ(textOf(IDC_OS_DESC), "<never set>");
    EXPECT_TRUE(callsOf("icon").empty());
    EXPECT_EQ(callsOf("text").size(), 6u);
    EXPECT_EQ(callsOf("line").size(), 2u);
    EXPECT_EQ(callsOf("line")[1].text, " ZqServer= *** EXCEPTION  ZqServer::run\n");

    // Clear empties the list and leaves the event log alone; other commands
    // are not handled.
    recordingdialog::clear();
    noteException("ZqServer::setCrossOver");
    EXPECT_FALSE(dlgProc(dialog, dlg::kCommand, IDC_CLEAR, 0));
    EXPECT_FALSE(dlgProc(dialog, dlg::kCommand, 4242, 0));
    ASSERT_EQ(callsOf("reset").size(), 1u);
    EXPECT_EQ(callsOf("reset")[0].id, IDC_EVENT_LIST);
    EXPECT_EQ(gEventLog.take(), "\r ZqServer= *** EXCEPTION  ZqServer::setCrossOver\n\r");

    // Exit stops the service, then ends the dialog; the high word of the
    // command parameter (the notification code) does not matter.
    recordingdialog::clear();
    recording::clearTrace();
    EXPECT_TRUE(dlgProc(dialog, dlg::kCommand, (0x1u << 16) | IDC_EXIT, 0));
    EXPECT_EQ(gSrv, nullptr);
    auto ends = callsOf("end");
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].id, 1);
    EXPECT_NE(recording::traceJoined().find("ZqServer::~ZqServer\n"), std::string::npos);

    // With the service gone, timer messages refresh nothing and Cancel
    // simply ends the dialog.
    recordingdialog::clear();
    dlgProc(dialog, dlg::kTimer, kRefreshTimerId, 0);
    EXPECT_TRUE(callsOf("text").empty());
    EXPECT_TRUE(dlgProc(dialog, dlg::kCommand, IDC_CANCEL, 0));
    ASSERT_EQ(callsOf("end").size(), 1u);
    EXPECT_EQ(callsOf("end")[0].id, 2);
    EXPECT_EQ(callsOf("timer").size(), 0u);  // the timer was started once only
}

TEST_F(RunWatchDog, RunsTheDialogAndStopsTheService)
{
    recordingdialog::scriptModal({{dlg::kTimer, kRefreshTimerId}, {dlg::kCommand, IDC_CANCEL}, {dlg::kTimer, kRefreshTimerId}});
    EXPECT_EQ(runWatchDog("main"), 0);
    EXPECT_EQ(gSrv, nullptr);
    auto modal = callsOf("modal");
    ASSERT_EQ(modal.size(), 1u);
    EXPECT_EQ(modal[0].id, 107);
    ASSERT_EQ(callsOf("end").size(), 1u);
    EXPECT_EQ(callsOf("end")[0].id, 2);
    EXPECT_EQ(textOf(IDC_CPU), "0");
}

TEST_F(RunWatchDog, AServiceThatCannotStartEndsWithCodeOne)
{
    boost::asio::io_service io;
    boost::asio::ip::udp::socket holder(io, boost::asio::ip::udp::endpoint(boost::asio::ip::udp::v4(), zq::kRequestPort));
    recording::clearTrace();
    EXPECT_EQ(runWatchDog("main"), 1);
    EXPECT_EQ(gSrv, nullptr);
    EXPECT_TRUE(callsOf("modal").empty());
    ASSERT_EQ(callsOf("failure").size(), 1u);
    EXPECT_NE(recording::traceJoined().find("*** EXCEPTION  main\n"), std::string::npos);
}
