#include "gui/settings/TestDiagnosticsDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/link/CommandCodes.h"
#include "core/link/CommandFrame.h"
#include "core/link/Notification.h"
#include "core/poll/PollingShared.h"
#include "core/settings/SettingsText.h"
#include "gui/common/WholeTitle.h"
#include "gui/settings/SettingsDialogs.h"

namespace corvane3 {

namespace {

const QString kEndTest = QStringLiteral("End Test");
const QString kDefaultSlew = QStringLiteral("+0020");
// Wide enough for a test line without scrolling sideways.
constexpr int kListWidthCharacters = 60;
constexpr int kListHeightLines = 12;

}  // namespace

CTestDiagnosticsDlg::CTestDiagnosticsDlg(CPollingShared& shared, QWidget* parent)
    : QDialog(parent), shared_(shared) {
    setWindowTitle(QStringLiteral("Test and Diagnostics"));
    setObjectName(QStringLiteral("testDiagnosticsDialog"));
    const auto button = [this](const char* name) {
        auto* b = new QPushButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    test1_ = button("test1");
    ddsStep_ = new QComboBox(this);
    ddsStep_->setObjectName(QStringLiteral("ddsStep"));
    for (int step = 1; step <= 9; ++step) {
        ddsStep_->addItem(QString::number(step));
    }
    ddsStep_->addItem(kEndTest);
    setDds_ = button("setDds");
    setDds_->setText(QStringLiteral("Set DDS"));
    gainStep_ = new QComboBox(this);
    gainStep_->setObjectName(QStringLiteral("gainStep"));
    gainStep_->addItems(
        {"01h", "02h", "04h", "08h", "10h", "20h", "40h", "80h", "AlignGainPot", kEndTest});
    setGain_ = button("setGainDac");
    setGain_->setText(QStringLiteral("Set Gain DAC"));
    slew_ = new QLineEdit(this);
    slew_->setObjectName(QStringLiteral("slew"));
    slew_->setMaxLength(static_cast<int>(kNumberInputLimit));
    timeUpdatingButton_ = button("timeUpdating");
    ppsSync_ = button("ppsSync");
    replies_ = new QListWidget(this);
    replies_->setObjectName(QStringLiteral("replies"));
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    replies_->setFont(fixed);
    replies_->setMinimumSize(QFontMetrics(fixed).averageCharWidth() * kListWidthCharacters,
                             QFontMetrics(fixed).height() * kListHeightLines);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);

    auto* grid = new QGridLayout;
    const auto label = [this](const char* text) {
        return new QLabel(QString::fromLatin1(text), this);
    };
    grid->addWidget(label("Test 1 DAC / ADC loopback"), 0, 0);
    grid->addWidget(test1_, 0, 2);
    grid->addWidget(label("Test 2 DDS"), 1, 0);
    grid->addWidget(ddsStep_, 1, 1);
    grid->addWidget(setDds_, 1, 2);
    grid->addWidget(label("Test 3 Gain DAC"), 2, 0);
    grid->addWidget(gainStep_, 2, 1);
    grid->addWidget(setGain_, 2, 2);
    grid->addWidget(label("Time Updating"), 3, 0);
    grid->addWidget(slew_, 3, 1);
    grid->addWidget(timeUpdatingButton_, 3, 2);
    grid->addWidget(label("PPS Sync Enable"), 4, 0);
    grid->addWidget(ppsSync_, 4, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(replies_, 1);
    auto* foot = new QHBoxLayout;
    foot->addStretch(1);
    foot->addWidget(ok);
    layout->addLayout(foot);

    connect(test1_, &QPushButton::clicked, this, &CTestDiagnosticsDlg::Test1);
    connect(setDds_, &QPushButton::clicked, this, &CTestDiagnosticsDlg::Test2);
    connect(setGain_, &QPushButton::clicked, this, &CTestDiagnosticsDlg::Test3);
    connect(timeUpdatingButton_, &QPushButton::clicked, this, &CTestDiagnosticsDlg::TimeUpdating);
    connect(ppsSync_, &QPushButton::clicked, this, &CTestDiagnosticsDlg::PpsSync);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    KeepTitleWhole(*this);
}

void CTestDiagnosticsDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    ddsStep_->setCurrentIndex(0);
    gainStep_->setCurrentIndex(0);
    test1_->setText(QStringLiteral("Start"));
    ppsSync_->setText(QStringLiteral("Sync"));
    timeUpdatingButton_->setText(QStringLiteral("Start"));
    slew_->setText(kDefaultSlew);
    test1Running_ = false;
    ppsSyncEnabled_ = false;
    timeUpdating_ = false;
}

void CTestDiagnosticsDlg::done(int result) {
    if (shared_.DiagnosticsMode != 0) {
        shared_.DiagnosticsMode |= kDiagnosticsEnd;
    }
    QDialog::done(result);
}

void CTestDiagnosticsDlg::AddReply(const std::string& text) {
    replies_->addItem(FromUnitText(DiagnosticListText(text)));
    replies_->scrollToBottom();
}

bool CTestDiagnosticsDlg::MayStart(std::uint32_t own) const {
    return !shared_.mailbox.IsPending() && (shared_.DiagnosticsMode & ~own) == 0;
}

void CTestDiagnosticsDlg::Send(ECommand sent, const std::string& data, bool factoryAccess) {
    // Every reply shows in the dialog's list, read to the same limit whatever the command.
    const MailboxCommand command{.code = CommandCode(sent),
                                 .data = data,
                                 .parameter = factoryAccess ? kFactoryAccessOption : 0,
                                 .replyLimit = kDiagnosticsReplyLimit,
                                 .notificationCode = kNotifyDiagnosticsDone};
    shared_.mailbox.TrySend(command);
}

void CTestDiagnosticsDlg::EndOwnTest(std::uint32_t test) {
    // The dialog has just sent the test's end itself: the thread's end must not send it again
    // (only the thread clears the mode, once it has handled the end).
    shared_.DiagnosticsMode = (shared_.DiagnosticsMode & ~test) | kDiagnosticsEnd;
}

void CTestDiagnosticsDlg::Test1() {
    if (!MayStart(kDiagnosticsA01)) {
        return;
    }
    if (test1Running_) {
        test1Running_ = false;
        test1_->setText(QStringLiteral("Done"));
        Send(ECommand::kTestMode1, "0", true);
        EndOwnTest(kDiagnosticsA01);
        return;
    }
    test1Running_ = true;
    test1_->setText(kEndTest);
    // The command goes first; the thread listens for test lines once it is sent.
    Send(ECommand::kTestMode1, "1", true);
    shared_.DiagnosticsMode |= kDiagnosticsA01;
}

void CTestDiagnosticsDlg::Test2() {
    if (!MayStart(kDiagnosticsA02)) {
        return;
    }
    const bool end = ddsStep_->currentText() == kEndTest;
    Send(ECommand::kTestMode2, end ? "0" : ddsStep_->currentText().left(1).toStdString(), true);
    if (end) {
        setDds_->setText(QStringLiteral("Done"));
        EndOwnTest(kDiagnosticsA02);
    } else {
        shared_.DiagnosticsMode |= kDiagnosticsA02;
    }
}

void CTestDiagnosticsDlg::Test3() {
    if (!MayStart(kDiagnosticsA03)) {
        return;
    }
    const bool end = gainStep_->currentText() == kEndTest;
    Send(ECommand::kTestMode3, std::to_string(GainDacValue(gainStep_->currentText().toStdString())),
         true);
    if (end) {
        setGain_->setText(QStringLiteral("Done"));
        EndOwnTest(kDiagnosticsA03);
    } else {
        shared_.DiagnosticsMode |= kDiagnosticsA03;
    }
}

void CTestDiagnosticsDlg::TimeUpdating() {
    if (shared_.mailbox.IsPending()) {
        return;
    }
    if (!timeUpdating_) {
        // The unit takes five digits; a longer number is refused before anything is sent.
        const long slew = LeadingInteger(slew_->text().toStdString());
        if (slew < -kMaxTimeUpdatingSlew || slew > kMaxTimeUpdatingSlew) {
            ShowRangeError(QStringLiteral("Slew must be between -99999 and +99999"), this);
            slew_->setFocus();
            return;
        }
        timeUpdating_ = true;
        timeUpdatingButton_->setText(QStringLiteral("Stop"));
        Send(ECommand::kBeginTimeUpdating, TimeUpdatingArgument(slew), true);
    } else {
        timeUpdating_ = false;
        timeUpdatingButton_->setText(QStringLiteral("Restart"));
        Send(ECommand::kResetTimeUpdating, "", true);
    }
}

void CTestDiagnosticsDlg::PpsSync() {
    if (shared_.mailbox.IsPending()) {
        return;
    }
    ppsSyncEnabled_ = !ppsSyncEnabled_;
    if (ppsSyncEnabled_) {
        ppsSync_->setText(QStringLiteral("Done"));
        Send(ECommand::kPpsSyncEnable, "", false);
    } else {
        ppsSync_->setText(QStringLiteral("Sync"));
    }
}

}  // namespace corvane3
