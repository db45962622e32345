// The serial dialogs offscreen: what they show for the port and the RS-232 settings, what
// "Apply Changes" hands to the polling thread, and the command catalogue's sends and replies.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <future>
#include <thread>
#include <tuple>

#include "core/link/CommandFrame.h"
#include "gui/serial/CommandSelectDlg.h"
#include "gui/serial/InstrumentSerialDlg.h"
#include "gui/serial/ScanningDlg.h"
#include "gui/serial/SerialSetupDlg.h"
#include "support/DialogControls.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using testing::Choose;
using testing::Shown;

class SerialDialogsTest : public testing::WidgetTest {
  protected:
    CLinkStatus status_;
    CSerialPort port_{status_};
    CPollingShared shared_;
    CUnitState unit_;
    CGuarded<SerialLineSettings> rs232_;
};

TEST_F(SerialDialogsTest, SetupKeepsAnAbsentConfiguredPortMarkedAndAppliesTheSelection) {
    const SerialLineSettings before{"/dev/ttyUSB97", 19200, kParityEven, kStopBitsOne, 8};
    port_.SetSettings(before);
    CSerialSetupDlg dialog(port_, shared_, unit_, [] {
        return std::vector<std::string>{"/dev/ttyS0", "/dev/ttyUSB1"};
    });
    auto* apply = dialog.findChild<QPushButton*>("apply");
    dialog.show();
    const auto* portNames = testing::Find<QComboBox>(dialog, "portName");
    QStringList ports;
    for (int i = 0; i < portNames->count(); ++i) {
        ports << portNames->itemText(i);
    }
    EXPECT_EQ(ports, QStringList({"/dev/ttyS0", "/dev/ttyUSB1", "/dev/ttyUSB97 (not present)"}));
    EXPECT_EQ(Shown(dialog, "portName"), "/dev/ttyUSB97 (not present)");
    EXPECT_EQ(Shown(dialog, "parity"), "Even");
    EXPECT_FALSE(apply->isEnabled());
    Choose(dialog, "baudRate", "9600");
    dialog.findChild<QPushButton*>("cancel")->click();
    EXPECT_EQ(port_.Settings(), before);
    EXPECT_FALSE(shared_.PortReset);

    // Apply keeps the configured port unless another is chosen.
    dialog.show();
    Choose(dialog, "baudRate", "9600");
    apply->click();
    EXPECT_EQ(port_.Settings().name, "/dev/ttyUSB97");
    dialog.show();
    Choose(dialog, "portName", "/dev/ttyS0");
    Choose(dialog, "baudRate", "2400");
    Choose(dialog, "parity", "Odd");
    Choose(dialog, "dataBits", "7");
    Choose(dialog, "stopBits", "2");
    apply->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(port_.Settings(),
              (SerialLineSettings{"/dev/ttyS0", 2400, kParityOdd, kStopBitsTwo, 7}));
    EXPECT_TRUE(shared_.PortReset);

    // A typed network port is taken as typed and shown as it is, never as absent.
    dialog.show();
    testing::Find<QComboBox>(dialog, "portName")->setEditText("rfc2217://[::1]:4001");
    apply->click();
    EXPECT_EQ(port_.Settings().name, "rfc2217://[::1]:4001");
    dialog.show();
    EXPECT_EQ(Shown(dialog, "portName"), "rfc2217://[::1]:4001");
}

TEST_F(SerialDialogsTest, ApplyIsHeldBackWhileDetectPutsTheSavedSettingsBack) {
    const SerialLineSettings saved{"/dev/ttyUSB1", 9600, kParityOdd, kStopBitsTwo, 7};
    port_.SetSettings(saved);
    CSerialSetupDlg dialog(port_, shared_, unit_, [] { return std::vector<std::string>{}; });
    dialog.show();
    auto* apply = dialog.findChild<QPushButton*>("apply");

    std::promise<void> release;
    std::thread attempt;
    bool clickedWhileWaiting = false;
    QTimer::singleShot(0, &dialog, [&] {
        // The search ends while its last attempt still holds the port at settings of its own.
        std::promise<void> holding;
        attempt = std::thread([&] {
            const std::lock_guard lock(port_.ExchangeMutex());
            port_.SetSettings({"/dev/ttyUSB1", 2400, kParityNone, kStopBitsOne, 8});
            holding.set_value();
            release.get_future().wait();
        });
        holding.get_future().wait();
        dialog.Scanning().End();
        // The search is over; the dialog now waits for the attempt to let go of the port.
        QTimer::singleShot(0, &dialog, [&] {
            Choose(dialog, "baudRate", "19200");
            apply->click();
            clickedWhileWaiting = true;
            release.set_value();
        });
    });
    dialog.findChild<QPushButton*>("detect")->click();
    attempt.join();
    ASSERT_TRUE(clickedWhileWaiting);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(port_.Settings(), saved);

    apply->click();  // once the wait is over, Apply works
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(SerialDialogsTest, InstrumentDialogStoresTheSettingsAndRequestsTheMoveWithTheParameter) {
    rs232_.Update([](SerialLineSettings& line) {
        line = {"COM1", 9600, kParityNone, kStopBitsOne, 8};
    });
    std::optional<std::uint32_t> answer = 42;
    CInstrumentSerialDlg dialog(rs232_, shared_, unit_, [&](QWidget*) { return answer; });
    dialog.show();
    EXPECT_EQ(Shown(dialog, "baudRate"), "9600");
    auto* apply = dialog.findChild<QPushButton*>("apply");
    EXPECT_FALSE(apply->isEnabled());
    Choose(dialog, "baudRate", "19200");
    Choose(dialog, "parity", "Odd");

    // A cancelled password prompt keeps the dialog open and asks the thread for nothing; the
    // settings are kept all the same, as the next opening shows.
    answer.reset();
    apply->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(shared_.IsRequested(ERequest::kSerialReconfiguration));
    EXPECT_EQ(rs232_.Snapshot(), (SerialLineSettings{"COM1", 19200, kParityOdd, kStopBitsOne, 8}));

    answer = 42;
    apply->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(shared_.IsRequested(ERequest::kSerialReconfiguration));
    EXPECT_EQ(shared_.SerialReconfigurationParameter, 42u);
}

class CommandSelectDlgTest : public testing::WidgetTest {
  protected:
    QComboBox* Commands() { return dialog_.findChild<QComboBox*>("commandList"); }
    QLineEdit* Input() { return dialog_.findChild<QLineEdit*>("commandInput"); }
    QListWidget* Replies() { return dialog_.findChild<QListWidget*>("replyList"); }
    void Send() { dialog_.findChild<QPushButton*>("sendCommand")->click(); }

    void Select(const char* name) {
        const int index = Commands()->findText(name);
        ASSERT_GE(index, 0) << name;
        Commands()->setCurrentIndex(index);
    }
    QString LastReply() {
        QListWidget* list = Replies();
        return list->count() == 0 ? QString() : list->item(list->count() - 1)->text();
    }
    // The code, data and parameter of the command waiting in the mailbox.
    std::tuple<std::string, std::string, std::uint32_t> Pending() {
        MailboxCommand command;
        EXPECT_TRUE(polling_.mailbox.TakePending(command));
        return {command.code, command.data, command.parameter};
    }

    CPollingShared polling_;
    CUnitState unit_;
    CCommandSelectDlg dialog_{polling_, unit_};
};

TEST_F(CommandSelectDlgTest, SendingQueuesTheRowAndEchoesItEvenWhenTheMailboxIsBusy) {
    dialog_.show();
    Select("Set User Frequency Offset");
    EXPECT_TRUE(Input()->isVisible());
    EXPECT_EQ(Input()->text(), "+000000");
    EXPECT_EQ(dialog_.findChild<QLabel*>("description")->text(),
              " add parts e-15 frequency offset to the output");
    Send();
    EXPECT_EQ(LastReply(), "W01 00000 +000000");

    // The mailbox is still busy with W01: Mute is dropped, but its echo still appears.
    Select("Mute");
    EXPECT_FALSE(Input()->isVisible());
    Send();
    EXPECT_EQ(LastReply(), "W12 00000 ");
    EXPECT_EQ(Pending(), std::make_tuple("W01", "+000000", 0u));
    polling_.mailbox.Finish();

    // What the user typed goes out as typed; a ChronoBeam gets the Factory access option.
    unit_.InstrumentModel = kModelChronoBeam;
    Select("UnitID");
    Input()->setText("12");
    Send();
    EXPECT_EQ(LastReply(), "C01 00000 12");
    EXPECT_EQ(Pending(), std::make_tuple("C01", "12", kFactoryAccessOption));
}

// A reply's lines are added a row each, the last ones in view; each opening starts at the first
// command with no replies.
TEST_F(CommandSelectDlgTest, TheLastRepliesStayInViewAndEachOpeningStartsAfresh) {
    dialog_.show();
    dialog_.ShowReply();  // no reply yet: nothing to show
    EXPECT_EQ(Replies()->count(), 0);
    std::string reply = kStx + ("D*3 " + FactoryAccessField() + " log\r\n");
    for (int line = 1; line < 40; ++line) {
        reply += "event " + std::to_string(line) + "\r\n";
    }
    polling_.CommandReply.Set(reply + "end" + kEtx);
    Select("Set User Frequency Offset");
    dialog_.ShowReply();
    QListWidget* list = Replies();
    ASSERT_EQ(list->count(), 41);
    EXPECT_EQ(list->item(0)->text(), "D*3 00000 log");
    EXPECT_EQ(list->item(40)->text(), "end");
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualItemRect(list->item(40))));
    EXPECT_FALSE(list->viewport()->rect().intersects(list->visualItemRect(list->item(0))));
    dialog_.accept();
    dialog_.show();
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(Commands()->currentIndex(), 0);
    EXPECT_FALSE(Input()->isVisible());
}

// A Tq9000 is offered 2400 baud and up in both dialogs, at every opening; other models 1200 too.
TEST_F(SerialDialogsTest, BaudListsFollowTheModelAtEveryOpening) {
    CSerialSetupDlg setup(port_, shared_, unit_, [] { return std::vector<std::string>{}; });
    for (const auto& [model, lowest] : {std::pair(kModelTq9000, "2400"), {kModelChronoBeam, "1200"},
                                        {kModelTq9000, "2400"}}) {
        unit_.InstrumentModel = model;
        CInstrumentSerialDlg instrument(rs232_, shared_, unit_, [](QWidget*) { return 0u; });
        for (QDialog* dialog : {static_cast<QDialog*>(&setup), static_cast<QDialog*>(&instrument)}) {
            dialog->show();
            EXPECT_EQ(testing::Find<QComboBox>(*dialog, "baudRate")->itemText(0).toStdString(), lowest)
                << model << " " << dialog->objectName().toStdString();
            dialog->hide();
        }
    }
}

}  // namespace
}  // namespace corvane3
