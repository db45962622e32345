// The two serial dialogs offscreen: what they show for the port and the RS-232 settings, and
// what "Apply Changes" hands to the polling thread.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>

#include "link/InstrumentSerialDlg.h"
#include "link/SerialSetupDlg.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

QStringList Entries(const QDialog& dialog, const char* list) {
    QStringList entries;
    const auto* combo = dialog.findChild<QComboBox*>(list);
    for (int i = 0; i < combo->count(); ++i) {
        entries << combo->itemText(i);
    }
    return entries;
}

QString Selected(const QDialog& dialog, const char* list) {
    return dialog.findChild<QComboBox*>(list)->currentText();
}

void Select(QDialog& dialog, const char* list, const QString& entry) {
    auto* combo = dialog.findChild<QComboBox*>(list);
    combo->setCurrentIndex(combo->findText(entry));
}

class SerialDialogsTest : public testing::WidgetTest {
  protected:
    CLinkStatus status_;
    CSerialPort port_{status_};
    CPollingShared shared_;
    CUnitState unit_;
    CGuarded<SerialLineSettings> rs232_;
};

TEST_F(SerialDialogsTest, SetupShowsThePortAndAppliesTheSelectionAtTheNextPass) {
    port_.SetSettings({"/dev/ttyUSB1", 19200, kParityEven, kStopBitsOne, 8});
    CSerialSetupDlg dialog(port_, shared_, unit_, [] {
        return std::vector<std::string>{"/dev/ttyS0", "/dev/ttyUSB1"};
    });
    dialog.show();
    EXPECT_EQ(Entries(dialog, "portName"), QStringList({"/dev/ttyS0", "/dev/ttyUSB1"}));
    EXPECT_EQ(Selected(dialog, "portName"), "/dev/ttyUSB1");
    EXPECT_EQ(Selected(dialog, "baudRate"), "19200");
    EXPECT_EQ(Selected(dialog, "parity"), "Even");
    EXPECT_EQ(Selected(dialog, "dataBits"), "8");
    EXPECT_EQ(Selected(dialog, "stopBits"), "1");
    auto* apply = dialog.findChild<QPushButton*>("apply");
    EXPECT_FALSE(apply->isEnabled());

    Select(dialog, "portName", "/dev/ttyS0");
    Select(dialog, "baudRate", "2400");
    Select(dialog, "parity", "Odd");
    Select(dialog, "dataBits", "7");
    Select(dialog, "stopBits", "2");
    ASSERT_TRUE(apply->isEnabled());
    apply->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(port_.Settings(),
              (SerialLineSettings{"/dev/ttyS0", 2400, kParityOdd, kStopBitsTwo, 7}));
    EXPECT_TRUE(shared_.PortReset);
}

TEST_F(SerialDialogsTest, SetupSelectsTheFirstPortWhenTheNameIsNotListedAndCancelChangesNothing) {
    // "COM1" is /dev/ttyS0, which this machine does not list.
    const SerialLineSettings before{"COM1", 4800, kParityNone, kStopBitsTwo, 7};
    port_.SetSettings(before);
    CSerialSetupDlg dialog(port_, shared_, unit_, [] {
        return std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyACM0"};
    });
    dialog.show();
    EXPECT_EQ(Selected(dialog, "portName"), "/dev/ttyUSB0");
    EXPECT_EQ(Selected(dialog, "stopBits"), "2");
    Select(dialog, "baudRate", "9600");
    dialog.findChild<QPushButton*>("cancel")->click();
    EXPECT_EQ(port_.Settings(), before);
    EXPECT_FALSE(shared_.PortReset);
}

TEST_F(SerialDialogsTest, NeitherDialogOffersBaud1200ForATq9000) {
    const QStringList all{"1200", "2400", "4800", "9600", "19200"};
    const auto lists = [&] {
        CSerialSetupDlg setup(port_, shared_, unit_, [] { return std::vector<std::string>{}; });
        setup.show();
        CInstrumentSerialDlg instrument(rs232_, shared_, unit_, [](QWidget*) { return 0u; });
        return std::make_pair(Entries(setup, "baudRate"), Entries(instrument, "baudRate"));
    };
    EXPECT_EQ(lists(), std::make_pair(all, all));
    unit_.InstrumentModel = kModelTq9000;
    const QStringList without1200 = all.mid(1);
    EXPECT_EQ(lists(), std::make_pair(without1200, without1200));
}

TEST_F(SerialDialogsTest, InstrumentDialogStoresTheSettingsAndRequestsTheMoveWithTheParameter) {
    rs232_.Update([](SerialLineSettings& line) {
        line = {"COM1", 9600, kParityNone, kStopBitsOne, 8};
    });
    std::optional<std::uint32_t> answer = 42;
    CInstrumentSerialDlg dialog(rs232_, shared_, unit_, [&](QWidget*) { return answer; });
    dialog.show();
    EXPECT_EQ(Selected(dialog, "baudRate"), "9600");
    EXPECT_EQ(Selected(dialog, "parity"), "None");
    EXPECT_EQ(Selected(dialog, "stopBits"), "1");
    auto* apply = dialog.findChild<QPushButton*>("apply");
    EXPECT_FALSE(apply->isEnabled());
    Select(dialog, "baudRate", "19200");
    Select(dialog, "dataBits", "7");
    Select(dialog, "parity", "Odd");
    Select(dialog, "stopBits", "2");

    // A cancelled password prompt keeps the dialog open and asks the thread for nothing; the
    // settings are kept all the same, as the next opening shows.
    answer.reset();
    apply->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(shared_.IsRequested(Request::kSerialReconfiguration));
    EXPECT_EQ(rs232_.Snapshot(), (SerialLineSettings{"COM1", 19200, kParityOdd, kStopBitsTwo, 7}));

    answer = 42;
    apply->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(shared_.IsRequested(Request::kSerialReconfiguration));
    EXPECT_EQ(shared_.SerialReconfigurationParameter, 42u);
}

}  // namespace
}  // namespace corvane3
