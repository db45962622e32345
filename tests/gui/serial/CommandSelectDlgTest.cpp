#include "gui/serial/CommandSelectDlg.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "core/link/CommandFrame.h"
#include "core/link/Notification.h"
#include "core/link/UnitState.h"
#include "core/poll/PollingShared.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

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
    MailboxCommand Pending() {
        MailboxCommand command;
        EXPECT_TRUE(polling_.mailbox.TakePending(command));
        return command;
    }

    CPollingShared polling_;
    CUnitState unit_;
    CCommandSelectDlg dialog_{polling_, unit_};
};

TEST_F(CommandSelectDlgTest, EachOpeningStartsAtTheFirstCommandWithAnEmptyReplyList) {
    dialog_.show();
    EXPECT_EQ(Commands()->count(), 77);
    EXPECT_EQ(Commands()->currentText(), "Reset Alarms");
    EXPECT_FALSE(Input()->isVisible());

    Select("Set User Frequency Offset");
    Send();
    ASSERT_EQ(Replies()->count(), 1);
    dialog_.accept();

    dialog_.show();
    EXPECT_EQ(Commands()->currentIndex(), 0);
    EXPECT_FALSE(Input()->isVisible());
    EXPECT_EQ(Replies()->count(), 0);
}

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
    const MailboxCommand first = Pending();
    EXPECT_EQ(first.code, "W01");
    EXPECT_EQ(first.data, "+000000");
    EXPECT_EQ(first.parameter, 0u);
    polling_.mailbox.Finish();

    // What the user typed goes out as typed; a ChronoBeam gets the Factory access option.
    unit_.InstrumentModel = kModelChronoBeam;
    Select("UnitID");
    Input()->setText("12");
    Send();
    EXPECT_EQ(LastReply(), "C01 00000 12");
    const MailboxCommand second = Pending();
    EXPECT_EQ(second.code, "C01");
    EXPECT_EQ(second.data, "12");
    EXPECT_EQ(second.parameter, kFactoryAccessOption);
}

TEST_F(CommandSelectDlgTest, ARepliesLinesAreAddedAndTheLastFiveStayInView) {
    dialog_.show();
    dialog_.ShowReply();  // no reply yet: nothing to show
    EXPECT_EQ(Replies()->count(), 0);

    std::string reply(1, kStx);
    reply += "D*3 " + FactoryAccessField() + " log\r\n";
    for (int line = 1; line < 40; ++line) {
        reply += "event " + std::to_string(line) + "\r\n";
    }
    reply += "end";
    reply += kEtx;
    polling_.CommandReply.Set(reply);
    dialog_.ShowReply();

    QListWidget* list = Replies();
    ASSERT_EQ(list->count(), 41);
    EXPECT_EQ(list->item(0)->text(), "D*3 00000 log");
    EXPECT_EQ(list->item(40)->text(), "end");
    const QRect viewport = list->viewport()->rect();
    for (int row = list->count() - 5; row < list->count(); ++row) {
        EXPECT_TRUE(viewport.contains(list->visualItemRect(list->item(row)))) << row;
    }
    EXPECT_FALSE(viewport.intersects(list->visualItemRect(list->item(0))));
}

}  // namespace
}  // namespace corvane3
