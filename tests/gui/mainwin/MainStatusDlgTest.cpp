#include "gui/mainwin/MainStatusDlg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QTextBrowser>
#include <QThread>
#include <QVBoxLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <cmath>
#include <fstream>
#include <map>
#include <numeric>
#include <thread>

#include "core/alerts/UnitWatch.h"
#include "core/link/CommandCodes.h"
#include "core/link/SerialPort.h"
#include "gui/common/HelpDlg.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/common/QueuedTimedMessages.h"
#include "gui/common/TimedMessageDlg.h"
#include "gui/common/WholeTitle.h"
#include "gui/common/WindowPrinter.h"
#include "gui/mainwin/TraceCommand.h"
#include "gui/security/AuthorizedCommand.h"
#include "support/ModalDialogDriver.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"
#include "support/TimedPrint.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using Messages = std::vector<testing::ModalDialogDriver::Message>;
// Far beyond any event the test waits for; only a fault reaches it.
constexpr int kSafetyNetMs = 60000;

class MainStatusDlgTest : public testing::WidgetTest {
  protected:
    MainStatusDlgTest() { window_.SetDesktopAlertSink(desktop_); }
    QLabel* Box(const char* name) { return window_.findChild<QLabel*>(name); }
    QString Value(const char* name) { return Box(name)->text(); }
    bool Shown(const char* name) { return Box(name)->isVisibleTo(&window_); }
    void PostRecord(std::int32_t model, std::uint32_t state = 0,
                    const std::function<void(UnitStateData&)>& more = {}) {
        app_.unitState.InstrumentModel = model;
        app_.unitState.Online = true;
        app_.unitState.Update([&](UnitStateData& data) {
            data = UnitStateData();
            data.d1.serialNumber = 1234;
            data.d1.state = state;
            data.timeText = "2026/12/06 10:00:00";
            if (more) {
                more(data);
            }
        });
        window_.OnNotification(kNotifyStatusRecord);
    }
    void SetLinkStatus(bool online, ELinkState state) {
        app_.unitState.Online = online;
        app_.linkStatus.SetLinkStatus(state);
        window_.OnNotification(kNotifyLinkStatusChanged);
    }
    QStringList MenuTexts(QMenu* menu) {
        QStringList texts;
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                texts << action->text();
            }
        }
        return texts;
    }

    struct CAlertList : IDesktopAlertSink {
        void Raise(const DesktopAlert& alert) override {
            summaries.push_back(alert.summary);
            bodies.push_back(alert.body);
        }
        std::vector<std::string> summaries;
        std::vector<std::string> bodies;
    } desktop_;
    testing::TempDir dir_;
    Corvane3App app_;
    CQueuedNotificationSink sink_;
    CMainStatusDlg window_{app_, sink_, nullptr};
};
using StaleBandColoursTest = MainStatusDlgTest;
using QueuedHandOverTest = testing::WidgetTest;

TEST_F(MainStatusDlgTest, BeforeAnyUnitAnswersThePortIsNamedAndNoModelsOwnValuesShow) {
    EXPECT_EQ(window_.windowTitle(), "Corvane3");
    EXPECT_EQ(window_.StatusPane(1)->text(), "Port COM1 (/dev/ttyS0)");
    EXPECT_FALSE(Shown("valueDisplayFirmware") || Shown("valueSystem24"));  // not even empty
}

TEST_F(MainStatusDlgTest, ATq9000RecordFillsTheTitleTheStatusPanesAndItsValues) {
    app_.serialPort.SetSettings({"/dev/ttyUSB1", 9600, kParityOdd, kStopBitsTwo, 7});
    PostRecord(403, 0, [](UnitStateData& data) {
        data.d1.freqTune = -42;
        data.d1.alarm2 = 0x1A;
        data.d1.alarm5 = 0xFF;
        data.d1.tChassis = 31.256f;
        data.d5.manufactureDateA = 3;
        data.d5.manufactureDateB = 14;
        data.d5.yearOfManufacture = 2019;
        data.outliers.burpsTotal = 41;
    });
    EXPECT_EQ(window_.windowTitle(), " Model Tq9000 SN 1234 on /dev/ttyUSB1");
    EXPECT_EQ(window_.StatusPane(1)->text(), "Cesium TOD: 2026/12/06 10:00:00");
    EXPECT_EQ(window_.StatusPane(2)->text(), "Operating");
    EXPECT_TRUE(Shown("valueSystem24") && Shown("valueDisplayFirmware"));
    const std::pair<const char*, QString> values[] = {
        {"valueFreqTune", "-000042"}, {"valueFaultList", "00,1A,00,00,FF"},
        {"valueTChassis", "31.26ºC"}, {"valueManufactureDate", "03/14/19"},
        {"valueCBTT", "41"},          {"valueOSCState", "Cold"}};
    for (const auto& [name, text] : values) {
        EXPECT_EQ(Value(name), text) << name;
    }
}

TEST_F(MainStatusDlgTest, A7730ACountsNoOutliersAndAUnitWithoutAClockShowsItsRunningTime) {
    PostRecord(404, 11, [](UnitStateData& data) {
        data.outliers.burpsTotal = 41;
        data.timeText = "0012:34:56";
    });
    EXPECT_EQ(Value("valueCBTT"), "");
    EXPECT_EQ(window_.StatusPane(1)->text(), "Uptime: 0012:34:56");
    EXPECT_EQ(window_.StatusPane(2)->text(), "Major Fault");
    EXPECT_EQ(Box("labelMainSupply")->text(), "+24 VDC");
}

TEST_F(MainStatusDlgTest, AnotherModelFoundByARescanHidesTheFirstModelsOwnValues) {
    PostRecord(403);
    PostRecord(402, 2);  // with an unknown status code
    EXPECT_FALSE(Shown("valueSystem24") || Shown("valueDisplayFirmware"));
    EXPECT_EQ(window_.StatusPane(2)->text(), "");
    window_.OnNotification(24);  // not a code this window knows: nothing happens
    EXPECT_EQ(window_.StatusPane(2)->text(), "");
}

TEST_F(MainStatusDlgTest, ASilentUnitsValuesStayGreyedUntilARecordComesAgain) {
    app_.serialPort.SetSettings({"/dev/ttyUSB1", 9600, kParityOdd, kStopBitsTwo, 7});
    PostRecord(402, 2);
    SetLinkStatus(false, ELinkState::kUnitNotResponding);
    EXPECT_EQ(window_.StatusPane(0)->text(), "Unit Not Responding");
    EXPECT_EQ(window_.windowTitle(), "Corvane3");
    EXPECT_FALSE(Box("valueCRamErr")->isEnabled());
    EXPECT_FALSE(window_.StatusPane(2)->isEnabled());
    // In place of the silent unit's clock: the port it was on.
    EXPECT_EQ(window_.StatusPane(1)->text(), "Port /dev/ttyUSB1");
    EXPECT_TRUE(window_.StatusPane(1)->isEnabled());
    SetLinkStatus(true, ELinkState::kUnitOnline);
    EXPECT_TRUE(window_.ShowsStaleValues());
    PostRecord(404);
    EXPECT_TRUE(Box("valueCRamErr")->isEnabled());
    EXPECT_TRUE(window_.StatusPane(2)->isEnabled());
}

TEST_F(MainStatusDlgTest, APortThatCannotBeOpenedIsNamedWithTheReason) {
    const std::string missing = "/dev/corvane3-no-such-port";
    app_.serialPort.SetSettings({missing, 9600, kParityOdd, kStopBitsTwo, 7});
    EXPECT_FALSE(app_.serialPort.OpenPort());
    SetLinkStatus(false, ELinkState::kUnitNotResponding);
    EXPECT_EQ(window_.StatusPane(1)->text().toStdString(), missing + ": not present");
}

TEST_F(MainStatusDlgTest, MenusAreComposedForTheConnectedModel) {
    CMainMenus& menus = window_.Menus();
    for (int model : {404, 405, -1}) {  // a 7730A, and codes of no known model
        menus.ComposeMenus(model);
        EXPECT_TRUE(MenuTexts(menus.OutputsMenu()).isEmpty()) << model;
    }
    menus.ComposeMenus(403);
    EXPECT_EQ(MenuTexts(menus.SystemMenu()),
              (QStringList{"&RS-232...", "&Factory Settings...", "Ethernet...", "Time of Day...",
                           "Test && Diagnostics...", "Select a command..."}));
    EXPECT_EQ(MenuTexts(menus.OutputsMenu()),
              (QStringList{"Delta-F...", "Delta-T...", "Synchronize 1PPS...",
                           "Configure Telecom Outputs..."}));
    EXPECT_FALSE(MenuTexts(menus.ViewMenu()).contains("&Factory Event Log..."));
    // The help is compiled in: offered wherever the program is installed.
    EXPECT_EQ(MenuTexts(menus.HelpMenu()), (QStringList{"Help Topics", "&About Corvane3..."}));
    menus.ComposeMenus(402);
    menus.ComposeMenus(402);  // composing again changes nothing
    EXPECT_EQ(MenuTexts(menus.OutputsMenu()),
              (QStringList{"Delta-F...", "Delta-T...", "Configure TTL Output..."}));
}

// A timed message closes itself: nobody need be there for polling to go on.
TEST_F(MainStatusDlgTest, TimedMessagesCloseThemselves) {
    CTimedMessageDlg message("Sync Complete", "Command Status", 0, &window_);
    // Should it stay open, the safety net closes it as rejected, and the test fails, not hangs.
    QTimer::singleShot(kSafetyNetMs, &message, &QDialog::reject);
    EXPECT_EQ(message.exec(), QDialog::Accepted);  // returns without anyone pressing OK
}

TEST_F(QueuedHandOverTest, MessagesFromAnotherThreadAppearInOrderNeverOnTopOfEachOther) {
    CQueuedTimedMessages messages;
    std::vector<bool> anotherWasOpen;
    QObject::connect(&messages, &CQueuedTimedMessages::Showing, [&] {
        anotherWasOpen.push_back(QApplication::activeModalWidget() != nullptr);
    });
    testing::ModalDialogDriver driver;
    std::thread([&] {
        messages.ShowTimedMessage("Password not Accepted", "Serial Port Settings");
        messages.ShowTimedMessage("Serial port settings NOT modified", "Serial Port Settings");
    }).join();
    ASSERT_TRUE(testing::ProcessEventsUntil([&] { return driver.Messages().size() == 2; }));
    EXPECT_EQ(driver.Messages(),
              (Messages{{"Serial Port Settings", "Password not Accepted"},
                        {"Serial Port Settings", "Serial port settings NOT modified"}}));
    EXPECT_EQ(anotherWasOpen, (std::vector<bool>{false, false}));
}

TEST_F(QueuedHandOverTest, CodesFromAnotherThreadArriveInOrderOnTheOwnerThread) {
    CQueuedNotificationSink sink;
    std::vector<int> codes;
    bool elsewhere = false;
    QObject::connect(&sink, &CQueuedNotificationSink::Notified, [&](int code) {
        codes.push_back(code);
        elsewhere |= QThread::currentThread() != sink.thread();
    });
    std::thread([&] {
        for (int code = 1; code <= 100; ++code) {
            sink.PostNotification(code);
        }
    }).join();
    ASSERT_TRUE(testing::ProcessEventsUntil([&] { return codes.size() == 100; }));
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(codes, expected);
    EXPECT_FALSE(elsewhere);
}

// Presses key on the window; whileAsked, when given, answers the question it opens.
void PressKey(QWidget& window, int key, const std::function<void(QMessageBox&)>& whileAsked = {}) {
    bool asked = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || asked) {
            return;
        }
        asked = true;
        EXPECT_EQ(box->text(), "Stop monitoring and exit Corvane3?");
        EXPECT_EQ(box->windowTitle(), "Corvane3");
        if (whileAsked) {
            whileAsked(*box);
        } else {
            ADD_FAILURE() << "the key asked";
            box->reject();
        }
    });
    look.start(5);
    testing::SendKey(window, key);
    EXPECT_EQ(asked, static_cast<bool>(whileAsked)) << "key " << key;
}

TEST_F(MainStatusDlgTest, EnterAndEscapeAskBeforeTheyEndMonitoringAndASecondStrayKeyKeepsIt) {
    window_.show();
    app_.settings.PollingEnabled = true;
    // A second Enter or Escape answers No: the window stays.
    for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        for (const int answer : {Qt::Key_Return, Qt::Key_Escape}) {
            PressKey(window_, key, [answer](QMessageBox& box) { testing::SendKey(box, answer); });
            EXPECT_TRUE(window_.isVisible()) << key << " then " << answer;
        }
    }
    // Yes ends it as Exit does.
    PressKey(window_, Qt::Key_Escape,
             [](QMessageBox& box) { box.button(QMessageBox::Yes)->click(); });
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(window_.result(), QDialog::Accepted);

    // Without polling there is nothing to stop: the key closes at once.
    window_.show();
    window_.setResult(QDialog::Rejected);
    app_.settings.PollingEnabled = false;
    PressKey(window_, Qt::Key_Return);
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(window_.result(), QDialog::Accepted);
}

TEST_F(MainStatusDlgTest, LessNarrowsOnceAndThePrintShowsThePrintTimeAndNoInventedValues) {
    QString pane1, pane2, value;
    window_.SetPrintGrabber([&](QWidget* window) {
        pane1 = window_.StatusPane(1)->text();
        pane2 = window_.StatusPane(2)->text();
        value = Value("valueCRamErr");
        return GrabWindowImage(window);
    });
    window_.SetPrinterChooser(
        [&](QWidget*) { return testing::PdfPrinter(dir_.Path() / "window.pdf"); });
    const QRegularExpression asctime("^\\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}$");

    // Before the first record: the time, and the boxes as they are.
    window_.RunCommand(kCmdPrint);
    EXPECT_TRUE(asctime.match(pane1).hasMatch()) << pane1.toStdString();
    EXPECT_EQ(pane2, "Unit Status...        ");
    EXPECT_EQ(value, "");

    // "Less" narrows once, however often chosen, and shortens the title.
    window_.show();
    PostRecord(403);
    QApplication::processEvents();
    const int wide = window_.width();
    window_.RunCommand(kCmdLess);
    window_.RunCommand(kCmdLess);
    QApplication::processEvents();
    const int narrow = window_.width();
    EXPECT_EQ(narrow, wide - kMoreLessWidth);
    EXPECT_EQ(window_.windowTitle(), "COM1: SN 1234");

    // From the narrow layout, printed wide, and back.
    window_.RunCommand(kCmdPrint);
    EXPECT_TRUE(asctime.match(pane1).hasMatch()) << pane1.toStdString();
    EXPECT_EQ(pane2, "Operating");
    EXPECT_EQ(window_.width(), narrow);
    EXPECT_EQ(window_.StatusPane(1)->text(), "");

    window_.RunCommand(kCmdMore);
    EXPECT_EQ(window_.width(), wide);
}

// Records are kept only while recording is on; the failure is said in the status bar and in a
// message that does not wait for the user.
TEST_F(MainStatusDlgTest, AFolderThatCannotBeMadeIsSaidWithoutWaitingAndItsRecordsFollowLater) {
    testing::ModalDialogDriver driver([](QDialog& dialog) { dialog.reject(); });
    const std::filesystem::path blocked = dir_.Path() / "plain";
    std::ofstream(blocked).close();
    const std::string records = (blocked / "records").string();
    app_.settings.DatafileDirectory = records;
    PostRecord(402);  // recording off: neither written nor kept
    app_.settings.RecordDataFile = true;
    for (int mjd = 1; mjd <= 3; ++mjd) {
        PostRecord(402, 0, [&](UnitStateData& data) { data.mjd = mjd; });
    }
    EXPECT_EQ(driver.Dialogs(), 0);
    EXPECT_TRUE(driver.Messages().empty());
    EXPECT_EQ(
        window_.StatusPane(1)->text().toStdString(),
        "Not recording (3 kept): Unable to save to directory: " + records + "/ (Not a directory)");
    const auto boxes = window_.findChildren<QMessageBox*>("recorderMessage");
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0]->isVisible());
    EXPECT_FALSE(boxes[0]->isModal());
    EXPECT_EQ(boxes[0]->windowTitle(), "Save data record error");
    EXPECT_EQ(boxes[0]->text().toStdString(),
              "Unable to save to directory:\n" + records + "/\n(Not a directory)");

    // Beyond the records kept, the loss is counted from the first one lost, and said at the end.
    for (int mjd = 4; mjd <= 300; ++mjd) {
        PostRecord(402, 0, [&](UnitStateData& data) { data.mjd = mjd; });
    }
    EXPECT_EQ(window_.StatusPane(1)->text().toStdString(),
              "Not recording (256 kept, 44 lost): Unable to save to directory: " + records +
                  "/ (Not a directory)");
    EXPECT_EQ(window_.RecordsNotKeptText(), "300 records were not recorded");
    EXPECT_EQ(window_.findChildren<QMessageBox*>("recorderMessage").size(), 1);

    std::filesystem::remove(blocked);
    PostRecord(402, 0, [](UnitStateData& data) { data.mjd = 301; });
    const std::vector<std::string> lines = testing::CsdLines(blocked / "records" / "Unit1234.csd");
    ASSERT_EQ(lines.size(), 257u);
    EXPECT_TRUE(lines[0].starts_with("MJD, ID")) << lines[0];
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(std::stod(lines[i]), static_cast<double>(45 + i)) << lines[i];
    }
    EXPECT_EQ(window_.RecordsNotKeptText(), "45 records were not recorded");
    EXPECT_EQ(window_.StatusPane(1)->text(), "Cesium TOD: 2026/12/06 10:00:00");
}

// A new alarm and a unit gone silent reach the desktop once each, a failing recorder once per run
// of failures.
TEST_F(MainStatusDlgTest, DesktopAlertsOncePerEventAndNoneWhileSwitchedOff) {
    testing::ModalDialogDriver driver;  // would close a modal message
    const auto twoAlarms = [](UnitStateData& data) {
        data.d1.alarm1 = 0x27;
        data.d1.alarm3 = 0x12;
    };
    app_.settings.RecordDataFile = true;
    app_.settings.DatafileDirectory = dir_.Path().string();  // "../" names are refused

    // An alarm, still pending at the next poll; the unit silent for two status lines.
    const auto fuse = [](UnitStateData& data) { data.d1.alarm1 = 0x26; };
    PostRecord(403, 0, fuse);
    PostRecord(403, 0, fuse);
    SetLinkStatus(false, ELinkState::kUnitNotResponding);
    SetLinkStatus(false, ELinkState::kUnitNotResponding);
    ASSERT_THAT(desktop_.summaries,
                ::testing::ElementsAre("Model Tq9000 SN 1234: Fuse A open",
                                       "Model Tq9000 SN 1234: Unit Not Responding"));
    EXPECT_EQ(desktop_.bodies[1], "The unit stopped answering on COM1.");
    desktop_.summaries.clear();

    // A failure, still failing, written again, then failing again: two runs of failures.
    for (const char* name : {"../Unit%ld.csd", "../Unit%ld.csd", "Unit%ld.csd", "../Unit%ld.csd"}) {
        app_.settings.DataFilenameTemplate = name;
        PostRecord(403, 10);
    }
    EXPECT_THAT(desktop_.summaries,
                ::testing::ElementsAre("Model Tq9000 SN 1234: Save data record error",
                                       "Model Tq9000 SN 1234: Save data record error"));
    EXPECT_TRUE(driver.Messages().empty());

    // Switched off, nothing reaches the desktop; what happened meanwhile is not told later.
    desktop_.summaries.clear();
    app_.settings.DesktopNotifications = false;
    app_.settings.RecordDataFile = false;
    SetLinkStatus(false, ELinkState::kUnitNotResponding);
    PostRecord(403, 10, twoAlarms);
    app_.settings.DesktopNotifications = true;
    PostRecord(403, 10, twoAlarms);
    EXPECT_TRUE(desktop_.summaries.empty());
}

TEST_F(MainStatusDlgTest, LimitsFileProblemsShowInTheStatusBarAndInOneBoxThatDoesNotWait) {
    const std::filesystem::path path = dir_.Path() / kLimitsFileName;
    std::ofstream(path) << "\xEF\xBB\xBF[VEM]\nWarningHigh = 2600\nCriticalHigh = 2500\n"
                           "[IIP]\nWarningLow = 30\nWarningHigh = 20\n";
    const ReadingLimits limits = LoadReadingLimits(path);
    ASSERT_EQ(limits.readings.size(), 2u);  // the marked first section counts
    window_.ShowLimitsProblems({});
    EXPECT_EQ(window_.findChild<QLabel*>("limitsProblemsPane"), nullptr);
    window_.ShowLimitsProblems(limits.problems);
    const QLabel* pane = window_.findChild<QLabel*>("limitsProblemsPane");
    const QMessageBox* box = window_.findChild<QMessageBox*>("limitsProblems");
    ASSERT_TRUE(pane && box);
    EXPECT_EQ(pane->text(), "Limits file: 2 problems");
    EXPECT_TRUE(box->isVisible() && !box->isModal());
    for (const char* said : {":2: WarningHigh 2600 is above CriticalHigh 2500",
                             ":6: WarningLow 30 is above WarningHigh 20"}) {
        const QString line = QString::fromStdString(path.string()) + said;
        EXPECT_TRUE(pane->toolTip().contains(line)) << pane->toolTip().toStdString();
        EXPECT_TRUE(box->informativeText().contains(line)) << said;
    }
}

TEST_F(MainStatusDlgTest, ASpectrumIsRefusedWhileNoUnitAnswers) {
    testing::ModalDialogDriver driver;
    window_.RunCommand(kCmdSpectrum);
    EXPECT_EQ(driver.Messages(), (Messages{{"Corvane3", "Cesium instrument not detected."}}));
    EXPECT_EQ(window_.OpenSpectrumWindow(), nullptr);
}

TEST_F(MainStatusDlgTest, ACommandWithdrawnUnsentIsToldOnceByItsSenderOrTheWindow) {
    testing::ModalDialogDriver driver;
    const testing::ModalDialogDriver::Message told{
        "Unit Not Responding", "The command W12 was not sent: the unit did not answer."};
    const MailboxCommand mute{.code = CommandCode(ECommand::kMute), .replyLimit = 32};
    CCommandMailbox& mailbox = app_.polling.mailbox;

    // A sender waiting on the command tells of it at once; the window does not repeat it.
    QTimer::singleShot(10, [&] {
        mailbox.WithdrawIfOlderThan({});
        window_.OnNotification(kNotifyCommandWithdrawn);
    });
    EXPECT_EQ(SendCheckedCommand(app_.polling, mute, "Mute", &window_, {30s, true}),
              ECommandOutcome::kWithdrawn);
    EXPECT_EQ(driver.Messages(), Messages{told});

    // Nobody waits on it any more: the window tells.
    ASSERT_TRUE(mailbox.TrySend(mute));
    ASSERT_TRUE(mailbox.WithdrawIfOlderThan({}));
    window_.OnNotification(kNotifyCommandWithdrawn);
    EXPECT_EQ(driver.Messages(), (Messages{told, told}));
}

// The contrast ratio of two colours as readability guidelines define it (1 to 21).
double Contrast(QRgb a, QRgb b) {
    const auto luminance = [](QRgb rgb) {
        const auto linear = [](int channel) {
            const double c = channel / 255.0;
            return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(qRed(rgb)) + 0.7152 * linear(qGreen(rgb)) +
               0.0722 * linear(qBlue(rgb));
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// As drawn: the most frequent colour (the background) and the one that stands out most from it
// (the text's strokes).
std::pair<QRgb, QRgb> BackgroundAndText(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    const QRgb background =
        std::ranges::max_element(counts, {}, &std::map<QRgb, int>::value_type::second)->first;
    QRgb text = background;
    for (const auto& [colour, count] : counts) {
        if (Contrast(colour, background) > Contrast(text, background)) {
            text = colour;
        }
    }
    return {background, text};
}

// A reading in a limit band when the unit falls silent: its greyed value stays legible.
TEST_F(StaleBandColoursTest, AValueInEitherBandStaysLegibleWhenGreyed) {
    // Readable text: a contrast of at least 4.5 to 1.
    constexpr double kLegible = 4.5;
    CUnitWatch watch({{"VEM", {std::nullopt, 30.0}, {std::nullopt, 33.0}}}, {});
    window_.SetUnitWatch(watch);
    window_.show();
    QLabel* box = Box("valueVEM");
    ASSERT_NE(box, nullptr);
    for (const float vem : {31.0f, 34.0f}) {  // warning, critical
        PostRecord(kModelTq9000, 0, [vem](UnitStateData& data) { data.d1.vem = vem; });
        const auto [band, fresh] = BackgroundAndText(box);
        SetLinkStatus(false, ELinkState::kUnitNotResponding);
        ASSERT_FALSE(box->isEnabled());
        const auto [background, text] = BackgroundAndText(box);
        EXPECT_GE(Contrast(fresh, band), kLegible) << vem;
        EXPECT_GE(Contrast(text, background), kLegible) << vem;
        EXPECT_NE(text, fresh) << vem;  // still seen to be stale
    }
}

TEST_F(MainStatusDlgTest, HelpTopicsShowsTheHelpPage) {
    QString help;
    testing::ModalDialogDriver driver([&](QDialog& dialog) {
        if (const auto* page = qobject_cast<CHelpDlg*>(&dialog)) {
            help = page->Browser()->toPlainText();
        }
        dialog.reject();
    });
    window_.RunCommand(kCmdHelpTopics);
    EXPECT_TRUE(help.contains("The main window")) << help.toStdString();
}

using WindowPartsTest = testing::WidgetTest;

TEST_F(WindowPartsTest, ATraceFileThatCannotBeWrittenIsSaidAndLeftUnchecked) {
    testing::ModalDialogDriver driver;
    testing::TempDir dir;
    const QString path = QString::fromStdString((dir.Path() / "missing" / "t.trace").string());
    CLinkStatus status;
    CSerialPort port{status};
    QAction item;
    CTraceCommand trace(port, &item);
    trace.SetChooser([&](QWidget*, const QString&) { return path; });
    trace.Toggle(nullptr, QString());
    EXPECT_EQ(driver.Messages(),
              (Messages{{"Trace Serial Traffic", "Unable to write the trace file:  " + path}}));
    EXPECT_FALSE(item.isChecked());
    EXPECT_FALSE(trace.IsTracing());
}

// A short dialog with a long title is made wide enough for the whole title; a layout wider than
// the title keeps its own width.
TEST_F(WindowPartsTest, ADialogIsWideEnoughForItsTitle) {
    const QString title = "Adjust Output Frequency Offset";
    for (const QString& text : {QString("x"), QString(400, 'x')}) {
        QDialog dialog;
        (new QVBoxLayout(&dialog))->addWidget(new QLabel(text));
        dialog.setWindowTitle(title);
        KeepTitleWhole(dialog);
        EXPECT_EQ(dialog.minimumWidth(),
                  std::max(WholeTitleWidth(title), dialog.layout()->minimumSize().width()))
            << text.size();
    }
}

}  // namespace
}  // namespace corvane3
