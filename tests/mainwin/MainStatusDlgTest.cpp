#include "mainwin/MainStatusDlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QPrinter>
#include <fstream>

#include "mainwin/QueuedNotificationSink.h"
#include "mainwin/TimedMessageDlg.h"
#include "support/TempDir.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

class MainStatusDlgTest : public testing::WidgetTest {
protected:
    QString Value(const char* name) { return window_.findChild<QLabel*>(name)->text(); }
    bool Shown(const char* name) {
        return window_.findChild<QLabel*>(name)->isVisibleTo(&window_);
    }
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

TEST_F(MainStatusDlgTest, BeforeAnyUnitAnswersTheWindowShowsItsStartTexts) {
    EXPECT_EQ(window_.windowTitle(), "Corvane3");
    EXPECT_EQ(window_.StatusPane(0)->text(), "Comm Status...                    ");
    EXPECT_EQ(window_.StatusPane(2)->text(), "Unit Status...        ");
    EXPECT_EQ(Value("valueCRamErr"), "");
    EXPECT_TRUE(window_.IsMoreView());
}

TEST_F(MainStatusDlgTest, RecordsFillTheWindowAndModelsChangeWhatIsShown) {
    app_.serialPort.SetSettings({"/dev/ttyUSB1", 9600, kParityOdd, kStopBitsTwo, 7});
    PostRecord(403);
    EXPECT_EQ(window_.windowTitle(), " Model Tq9000 SN 1234 on /dev/ttyUSB1");
    EXPECT_EQ(window_.StatusPane(1)->text(), "Cesium TOD: 2026/12/06 10:00:00");
    EXPECT_EQ(window_.StatusPane(2)->text(), "Operating");
    EXPECT_TRUE(Shown("valueSystem24"));
    EXPECT_TRUE(Shown("valueDisplayFirmware"));
    EXPECT_EQ(Value("valueOCXOT"), "9");

    PostRecord(402, 2);  // another unit found after a rescan, with an unknown status code
    EXPECT_FALSE(Shown("valueSystem24"));
    EXPECT_FALSE(Shown("valueDisplayFirmware"));
    EXPECT_EQ(window_.findChild<QLabel*>("labelMainSupply")->text(), "+24 VDC");
    EXPECT_EQ(window_.StatusPane(2)->text(), "");

    PostRecord(404);
    EXPECT_EQ(Value("valueOCXOT"), "");

    app_.linkStatus.SetLinkStatus("Unit Online");
    window_.OnNotification(kNotifyLinkStatusChanged);
    EXPECT_EQ(window_.StatusPane(0)->text(), "Unit Online");
    window_.OnNotification(24);  // not a code this window knows: nothing happens
    EXPECT_EQ(window_.StatusPane(0)->text(), "Unit Online");
}

TEST_F(MainStatusDlgTest, LessNarrowsOnceAndMoreWidensBack) {
    PostRecord(403);
    const int wide = window_.width();
    window_.RunCommand(kCmdLess);
    window_.RunCommand(kCmdLess);
    EXPECT_EQ(window_.width(), wide - kMoreLessWidth);
    EXPECT_FALSE(window_.IsMoreView());
    EXPECT_EQ(window_.windowTitle(), "COM1: SN 1234");
    EXPECT_TRUE(window_.Menus().Action(kCmdLess)->isChecked());
    window_.RunCommand(kCmdMore);
    EXPECT_EQ(window_.width(), wide);
}

TEST_F(MainStatusDlgTest, MenusAreComposedForTheConnectedModel) {
    CMainMenus& menus = window_.Menus();
    menus.ComposeMenus(404, false);
    EXPECT_TRUE(MenuTexts(menus.OutputsMenu()).isEmpty());
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

TEST_F(MainStatusDlgTest, EnterAndEscapeCloseTheWindow) {
    window_.show();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&window_, &enter);
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(window_.result(), QDialog::Accepted);
    window_.show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window_, &escape);
    EXPECT_FALSE(window_.isVisible());
}

}  // namespace
}  // namespace corvane3

namespace corvane3 {
namespace {

TEST_F(MainStatusDlgTest, TimedMessageClosesItselfWithItsTitle) {
    CTimedMessageDlg message(QStringLiteral("Output Frequency modified"),
                             QStringLiteral("Delta-F Notification"), 0, &window_);
    EXPECT_EQ(message.windowTitle(), "Delta-F Notification");
    EXPECT_EQ(message.exec(), QDialog::Accepted);  // returns without anyone pressing OK
}

}  // namespace
}  // namespace corvane3

namespace corvane3 {
namespace {

TEST_F(MainStatusDlgTest, PrintingFromTheNarrowLayoutPrintsWideAndComesBack) {
    testing::TempDir dir;
    const QString pdf = QString::fromStdString((dir.Path() / "window.pdf").string());
    PostRecord(403);
    window_.RunCommand(kCmdLess);
    const int narrow = window_.width();

    window_.SetPrinterChooser([](QWidget*) { return std::unique_ptr<QPrinter>(); });
    window_.RunCommand(kCmdPrint);  // cancelled: nothing changes
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(window_.StatusPane(1)->text(), "Cesium TOD: 2026/12/06 10:00:00");

    window_.SetPrinterChooser([&](QWidget*) {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return printer;
    });
    window_.RunCommand(kCmdPrint);
    EXPECT_GT(QFile(pdf).size(), 0);
    EXPECT_FALSE(window_.IsMoreView());
    EXPECT_EQ(window_.width(), narrow);
    EXPECT_EQ(window_.StatusPane(1)->text(), "");
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
    std::string header, first, second, extra;
    std::getline(file, header);
    std::getline(file, first);
    std::getline(file, second);
    EXPECT_TRUE(header.starts_with("MJD, ID, UnitType"));
    EXPECT_EQ(std::count(first.begin(), first.end(), ','), 44);  // 45 fields for a 7730B
    EXPECT_FALSE(second.empty());
    EXPECT_FALSE(std::getline(file, extra));
}

}  // namespace
}  // namespace corvane3
