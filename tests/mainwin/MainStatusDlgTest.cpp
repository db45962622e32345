#include "mainwin/MainStatusDlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QPrinter>
#include <QTextBrowser>
#include <QTimer>
#include <fstream>
#include <set>

#include "link/CommandFrame.h"
#include "link/CommandSelectDlg.h"
#include "mainwin/HelpDlg.h"
#include "mainwin/QueuedNotificationSink.h"
#include "mainwin/WindowPrinter.h"
#include "poll/AuthorizedCommand.h"
#include "support/ModalDialogDriver.h"
#include "support/TempDir.h"
#include "support/WidgetTestApplication.h"
#include "widgets/TimedMessageDlg.h"

namespace corvane3 {
namespace {

using namespace std::chrono_literals;
using Messages = std::vector<testing::ModalDialogDriver::Message>;

class MainStatusDlgTest : public testing::WidgetTest {
  protected:
    QLabel* Box(const char* name) { return window_.findChild<QLabel*>(name); }
    QString Value(const char* name) { return Box(name)->text(); }
    bool Shown(const char* name) { return Box(name)->isVisibleTo(&window_); }
    void PostRecord(std::int32_t model, std::uint32_t state = 0) {
        app_.unitState.InstrumentModel = model;
        app_.unitState.Online = true;
        app_.unitState.Update([&](UnitStateData& data) {
            data.d1.serialNumber = 1234;
            data.d1.state = state;
            data.outliers.hopsTotal = 9;
            data.timeText = "2026/12/06 10:00:00";
        });
        window_.OnNotification(kNotifyStatusRecord);
    }
    void SetLinkStatus(bool online, const std::string& text) {
        app_.unitState.Online = online;
        app_.linkStatus.SetLinkStatus(text);
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

    Corvane3App app_;
    CQueuedNotificationSink sink_;
    CMainStatusDlg window_{app_, sink_, nullptr};
};

TEST_F(MainStatusDlgTest, RecordsFillTheWindowAndASilentUnitsValuesAreGreyedUntilTheNext) {
    EXPECT_EQ(window_.windowTitle(), "Corvane3");
    EXPECT_EQ(window_.StatusPane(0)->text(), "Comm Status...                    ");
    EXPECT_EQ(window_.StatusPane(2)->text(), "Unit Status...        ");
    EXPECT_EQ(Value("valueCRamErr"), "");

    app_.serialPort.SetSettings({"/dev/ttyUSB1", 9600, kParityOdd, kStopBitsTwo, 7});
    PostRecord(403);
    EXPECT_EQ(window_.windowTitle(), " Model Tq9000 SN 1234 on /dev/ttyUSB1");
    EXPECT_EQ(window_.StatusPane(1)->text(), "Cesium TOD: 2026/12/06 10:00:00");
    EXPECT_EQ(window_.StatusPane(2)->text(), "Operating");
    EXPECT_TRUE(Shown("valueSystem24"));
    EXPECT_EQ(Value("valueOCXOT"), "9");

    PostRecord(402, 2);  // another unit found after a rescan, with an unknown status code
    EXPECT_FALSE(Shown("valueSystem24"));
    EXPECT_FALSE(Shown("valueDisplayFirmware"));
    EXPECT_EQ(Box("labelMainSupply")->text(), "+24 VDC");
    EXPECT_EQ(window_.StatusPane(2)->text(), "");
    PostRecord(404);
    EXPECT_EQ(Value("valueOCXOT"), "");
    window_.OnNotification(24);  // not a code this window knows: nothing happens

    // The unit stops answering: the last values stay, greyed, until a record comes again.
    SetLinkStatus(false, "Unit Not Responding");
    EXPECT_EQ(window_.StatusPane(0)->text(), "Unit Not Responding");
    EXPECT_EQ(window_.windowTitle(), "Corvane3");
    EXPECT_FALSE(Box("valueCRamErr")->isEnabled());
    EXPECT_FALSE(window_.StatusPane(2)->isEnabled());
    SetLinkStatus(true, "Unit Online");
    EXPECT_TRUE(window_.ShowsStaleValues());
    PostRecord(404);
    EXPECT_TRUE(Box("valueCRamErr")->isEnabled());
    EXPECT_TRUE(window_.StatusPane(2)->isEnabled());
}

TEST_F(MainStatusDlgTest, LessNarrowsOnceKeepsTextsWholeAndValueBoxesLineUp) {
    window_.show();
    PostRecord(403);
    QApplication::processEvents();
    // One left edge per column of value boxes: left, middle, and the right column's two.
    std::set<int> lefts;
    for (QLabel* box : window_.findChildren<QLabel*>(QRegularExpression("^value"))) {
        if (box->isVisibleTo(&window_)) {
            lefts.insert(box->mapTo(&window_, QPoint(0, 0)).x());
        }
    }
    EXPECT_EQ(lefts.size(), 4u);

    const int wide = window_.width();
    window_.RunCommand(kCmdLess);
    window_.RunCommand(kCmdLess);
    QApplication::processEvents();
    EXPECT_EQ(window_.width(), wide - kMoreLessWidth);
    EXPECT_EQ(window_.windowTitle(), "COM1: SN 1234");
    EXPECT_TRUE(window_.Menus().Action(kCmdLess)->isChecked());
    for (int pane = 0; pane < 3; ++pane) {
        QLabel* label = window_.StatusPane(pane);
        EXPECT_GE(label->contentsRect().width(),
                  label->fontMetrics().horizontalAdvance(label->text().trimmed()))
            << label->text().toStdString();
    }
    window_.RunCommand(kCmdMore);
    EXPECT_EQ(window_.width(), wide);
}

TEST_F(MainStatusDlgTest, MenusAreComposedForTheConnectedModel) {
    CMainMenus& menus = window_.Menus();
    for (int model : {404, 405, -1}) {  // a 7730A, and codes of no known model
        menus.ComposeMenus(model, false);
        EXPECT_TRUE(MenuTexts(menus.OutputsMenu()).isEmpty()) << model;
    }
    menus.ComposeMenus(403, false);
    EXPECT_EQ(MenuTexts(menus.SystemMenu()),
              (QStringList{"&RS-232...", "&Factory Settings...", "Ethernet...", "Time of Day...",
                           "Test && Diagnostics...", "Select a command..."}));
    EXPECT_EQ(MenuTexts(menus.OutputsMenu()),
              (QStringList{"Delta-F...", "Delta-T...", "Synchronize 1PPS...",
                           "Configure Telecom Outputs..."}));
    EXPECT_FALSE(MenuTexts(menus.ViewMenu()).contains("&Factory Event Log..."));
    EXPECT_FALSE(MenuTexts(menus.HelpMenu()).contains("Help Topics"));
    menus.ComposeMenus(401, true);
    EXPECT_EQ(MenuTexts(menus.SystemMenu()),
              (QStringList{"&RS-232...", "&Security...", "&Factory Settings...",
                           "Test && Diagnostics...", "Select a command..."}));
    EXPECT_TRUE(MenuTexts(menus.ViewMenu()).contains("&Factory Event Log..."));
    menus.ComposeMenus(402, false);
    menus.ComposeMenus(402, false);  // composing again changes nothing
    EXPECT_EQ(MenuTexts(menus.OutputsMenu()),
              (QStringList{"Delta-F...", "Delta-T...", "Configure TTL Output..."}));
}

TEST_F(MainStatusDlgTest, EnterAndEscapeCloseTheWindowAndTimedMessagesCloseThemselves) {
    window_.show();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&window_, &enter);
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(window_.result(), QDialog::Accepted);
    window_.show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window_, &escape);
    EXPECT_FALSE(window_.isVisible());

    CTimedMessageDlg message("Output Frequency modified", "Delta-F Notification", 0, &window_);
    EXPECT_EQ(message.exec(), QDialog::Accepted);  // returns without anyone pressing OK
    EXPECT_EQ(message.windowTitle(), "Delta-F Notification");
}

TEST_F(MainStatusDlgTest, ThePrintedPictureCarriesThePrintTimeAndNoInventedValues) {
    testing::TempDir dir;
    const QString pdf = QString::fromStdString((dir.Path() / "window.pdf").string());
    QString pane1, pane2, value;
    window_.SetPrintGrabber([&](QWidget* window) {
        pane1 = window_.StatusPane(1)->text();
        pane2 = window_.StatusPane(2)->text();
        value = Value("valueCRamErr");
        return GrabWindowImage(window);
    });
    window_.SetPrinterChooser([&](QWidget*) {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return printer;
    });
    const QRegularExpression asctime("^\\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}$");

    // Before the first record: the time, and the boxes as they are.
    window_.RunCommand(kCmdPrint);
    EXPECT_TRUE(asctime.match(pane1).hasMatch()) << pane1.toStdString();
    EXPECT_EQ(pane2, "Unit Status...        ");
    EXPECT_EQ(value, "");

    PostRecord(403);
    window_.RunCommand(kCmdLess);
    const int narrow = window_.width();
    ASSERT_TRUE(QFile::remove(pdf));
    window_.RunCommand(kCmdPrint);
    EXPECT_TRUE(asctime.match(pane1).hasMatch()) << pane1.toStdString();
    EXPECT_EQ(pane2, "Operating");
    EXPECT_GT(QFile(pdf).size(), 0);
    EXPECT_FALSE(window_.IsMoreView());
    EXPECT_EQ(window_.width(), narrow);
    EXPECT_EQ(window_.StatusPane(1)->text(), "");

    // Cancelled: nothing changes.
    PostRecord(403);
    window_.SetPrinterChooser([](QWidget*) { return std::unique_ptr<QPrinter>(); });
    window_.RunCommand(kCmdPrint);
    EXPECT_EQ(window_.StatusPane(1)->text(), "Cesium TOD: 2026/12/06 10:00:00");
}

TEST_F(MainStatusDlgTest, EachRecordIsAppendedToTheTelemetryFileWhileRecordingIsOn) {
    testing::TempDir dir;
    app_.settings.DatafileDirectory = dir.Path().string();
    PostRecord(402);  // recording off: no file
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "Unit1234.csd"));

    app_.settings.RecordDataFile = true;
    PostRecord(402);
    PostRecord(402);
    std::ifstream file(dir.Path() / "Unit1234.csd");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].starts_with("MJD, ID, UnitType"));
    EXPECT_EQ(std::count(lines[1].begin(), lines[1].end(), ','), 44);  // 45 fields for a 7730B
}

TEST_F(MainStatusDlgTest, MenuCommandsOpenTheirDialogs) {
    // Help Topics: the help page in a window of the program's own.
    QString help;
    testing::ModalDialogDriver driver([&](QDialog& dialog) {
        if (auto* page = qobject_cast<CHelpDlg*>(&dialog)) {
            help = page->Browser()->toPlainText();
        }
        dialog.reject();
    });
    window_.RunCommand(kCmdHelpTopics);
    EXPECT_TRUE(help.contains("The main window")) << help.toStdString();

    // Catalogue replies reach the command list only while its command runs it.
    auto* select = window_.findChild<CCommandSelectDlg*>();
    ASSERT_NE(select, nullptr);
    auto* replies = select->findChild<QListWidget*>("replyList");
    app_.polling.CommandReply.Set(std::string(1, kStx) + "C03 00000 Version" + kEtx);
    window_.OnNotification(kNotifyCatalogueReply);
    EXPECT_EQ(replies->count(), 0);
    int shownWhileOpen = -1;
    QMetaObject::invokeMethod(
        select,
        [&] {
            window_.OnNotification(kNotifyCatalogueReply);
            shownWhileOpen = replies->count();
            select->accept();
        },
        Qt::QueuedConnection);
    window_.RunCommand(kCmdSelectCommand);
    EXPECT_EQ(shownWhileOpen, 1);
}

TEST_F(MainStatusDlgTest, ACommandWithdrawnUnsentIsToldOnceByItsSenderOrTheWindow) {
    testing::ModalDialogDriver driver;
    const testing::ModalDialogDriver::Message told{
        "Unit Not Responding", "The command W12 was not sent: the unit did not answer."};
    const MailboxCommand mute{"W12", "", 0, 32, 0};
    CCommandMailbox& mailbox = app_.polling.mailbox;

    // A sender waiting on the command tells of it at once; the window does not repeat it.
    QTimer::singleShot(10, [&] {
        mailbox.WithdrawIfOlderThan({});
        window_.OnNotification(kNotifyCommandWithdrawn);
    });
    EXPECT_EQ(SendCheckedCommand(app_.polling, mute, "Mute", &window_, {30s, true}),
              CommandOutcome::kWithdrawn);
    EXPECT_EQ(driver.Messages(), Messages{told});

    // Nobody waits on it any more: the window tells.
    ASSERT_TRUE(mailbox.TrySend(mute));
    ASSERT_TRUE(mailbox.WithdrawIfOlderThan({}));
    window_.OnNotification(kNotifyCommandWithdrawn);
    EXPECT_EQ(driver.Messages(), (Messages{told, told}));

    // The message belongs to the sender while it is open.
    QDialog sender;
    NoteCommandSender(&sender);
    EXPECT_EQ(CommandSenderOr(&window_), &window_);
    sender.show();
    EXPECT_EQ(CommandSenderOr(&window_), &sender);
}

}  // namespace
}  // namespace corvane3
