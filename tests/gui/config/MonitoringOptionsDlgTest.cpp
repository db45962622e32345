#include "gui/config/MonitoringOptionsDlg.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

class MonitoringOptionsDlgTest : public testing::WidgetTest {
  protected:
    MonitoringOptionsDlgTest() {
        settings_.DatafileDirectory = "/var/log/clock/";
        dialog_.SetFolderChooser(
            [this](QWidget* parent, const QString& title, const QString& start) {
                chooserCalls_.push_back({parent, title, start});
                return chooserAnswer_;
            });
        dialog_.SetRefusal(
            [this](const QString& title, const QString&) { refusals_.push_back(title); });
    }

    void Open() {
        dialog_.setResult(-1);
        dialog_.show();
        ASSERT_TRUE(dialog_.isVisible());
    }

    struct ChooserCall {
        QWidget* parent;
        QString title;
        QString start;
    };

    CProgramSettings settings_;
    CMonitoringOptionsDlg dialog_{settings_};
    QCheckBox* pollingEnable_ = dialog_.findChild<QCheckBox*>("pollingEnableCheck");
    QLineEdit* rate_ = dialog_.findChild<QLineEdit*>("pollingRateEdit");
    QCheckBox* recordEnable_ = dialog_.findChild<QCheckBox*>("recordEnableCheck");
    QLineEdit* directory_ = dialog_.findChild<QLineEdit*>("directoryEdit");
    QLineEdit* template_ = dialog_.findChild<QLineEdit*>("filenameTemplateEdit");
    QPushButton* browse_ = dialog_.findChild<QPushButton*>("browseButton");
    QPushButton* apply_ = dialog_.findChild<QPushButton*>("applyButton");
    QPushButton* cancel_ = dialog_.findChild<QPushButton*>("cancelButton");
    QCheckBox* notify_ = dialog_.findChild<QCheckBox*>("desktopNotificationsCheck");
    std::vector<ChooserCall> chooserCalls_;
    QString chooserAnswer_;
    std::vector<QString> refusals_;
};

TEST_F(MonitoringOptionsDlgTest, OpensWithTheSettingsAndOnlyAChangeEnablesApply) {
    const std::vector<std::function<void()>> changes = {[&] { pollingEnable_->click(); },
                                                        [&] { recordEnable_->click(); },
                                                        [&] { rate_->setText("11"); },
                                                        [&] { directory_->setText("/srv/"); },
                                                        [&] { template_->setText("Clock%ld.csd"); },
                                                        [&] { notify_->click(); }};
    for (std::size_t i = 0; i < changes.size(); ++i) {
        Open();
        EXPECT_TRUE(pollingEnable_->isChecked() && rate_->isEnabled());
        EXPECT_EQ(rate_->text(), "10");
        EXPECT_EQ(directory_->text(), "/var/log/clock/");
        EXPECT_EQ(template_->text(), "Unit%ld.csd");
        // Recording is off: where to record is greyed out.
        EXPECT_FALSE(recordEnable_->isChecked() || directory_->isEnabled() ||
                     template_->isEnabled() || browse_->isEnabled());
        // Neither the disabled button nor Enter (its default key) applies an unchanged dialog.
        EXPECT_TRUE(apply_->isDefault());
        EXPECT_FALSE(apply_->isEnabled());
        apply_->click();
        testing::SendKey(dialog_, Qt::Key_Return);
        EXPECT_EQ(dialog_.result(), -1);
        changes[i]();
        EXPECT_TRUE(apply_->isEnabled()) << "change " << i;
        // Escape cancels: no setting changes, and the next opening starts from them again.
        testing::SendKey(dialog_, Qt::Key_Escape);
        EXPECT_EQ(dialog_.result(), QDialog::Rejected);
        EXPECT_TRUE(settings_.PollingEnabled);
        EXPECT_FALSE(settings_.RecordDataFile);
        EXPECT_EQ(settings_.PollingInterval, 10);
        EXPECT_EQ(settings_.DatafileDirectory, "/var/log/clock/");
        EXPECT_TRUE(settings_.DesktopNotifications);
    }
}

TEST_F(MonitoringOptionsDlgTest, ApplyTakesRatesInTheLoadedRangeAndTemplatesThatAreFileNames) {
    // Refused input keeps the dialog open, with the text left for the user to correct.
    const std::pair<QString, QString> refused[] = {
        {"0", "U%ld"},    {"1", "U%ld"},          {"100001", "U%ld"},
        {"fast", "U%ld"}, {"42 seconds", "U%ld"}, {"10", "../../escape%ld.csd"}};
    for (const auto& [rate, nameTemplate] : refused) {
        refusals_.clear();
        Open();
        rate_->setText(rate);
        template_->setText(nameTemplate);
        apply_->click();
        EXPECT_TRUE(dialog_.isVisible()) << rate.toStdString() << " " << nameTemplate.toStdString();
        EXPECT_EQ(refusals_.size(), 1u);
        EXPECT_EQ(rate_->text(), rate);
        EXPECT_EQ(settings_.PollingInterval, 10);
        EXPECT_EQ(settings_.DataFilenameTemplate, "Unit%ld.csd");
        dialog_.hide();
    }
    // Unchecked polling greys the rate but keeps it; "%d" stands for the serial number too.
    for (const auto& [rate, nameTemplate] : {std::pair(" 2 ", "Unit%d.csd"), {"100000", "C%u"}}) {
        Open();
        rate_->setText(rate);
        pollingEnable_->click();
        EXPECT_FALSE(rate_->isEnabled());
        recordEnable_->click();
        EXPECT_TRUE(directory_->isEnabled() && template_->isEnabled() && browse_->isEnabled());
        directory_->setText("/data/unit/");
        template_->setText(nameTemplate);
        notify_->click();
        apply_->click();
        EXPECT_EQ(dialog_.result(), QDialog::Accepted);
        EXPECT_FALSE(settings_.DesktopNotifications);
        EXPECT_EQ(settings_.PollingInterval, QString(rate).trimmed().toInt());
        EXPECT_EQ(settings_.DataFilenameTemplate, nameTemplate);
        EXPECT_FALSE(settings_.PollingEnabled);
        EXPECT_TRUE(settings_.RecordDataFile);
        EXPECT_EQ(settings_.DatafileDirectory, "/data/unit/");
        settings_.PollingEnabled = true;
        settings_.RecordDataFile = false;
        settings_.DesktopNotifications = true;
    }
}

TEST_F(MonitoringOptionsDlgTest, AFolderThatIsNoValidTextKeepsItsBytesUnlessTheUserGivesAnother) {
    struct Case {
        std::string stored;  // the settings' folder
        QString typed;       // what the user types over it; empty: left as shown
        std::string applied;
    };
    const Case cases[] = {
        {"/srv/d\xff\xfe/", "", "/srv/d\xff\xfe/"},
        {"/srv/d\xff\xfe/", QString::fromUtf8("/srv/caf\xc3\xa9/"), "/srv/caf\xc3\xa9/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored + " " + c.typed.toStdString());
        settings_.DatafileDirectory = c.stored;
        settings_.RecordDataFile = true;
        settings_.PollingInterval = 10;
        Open();
        // Shown readably: the valid part of the name is there.
        EXPECT_TRUE(directory_->text().startsWith("/srv/")) << directory_->text().toStdString();
        if (c.typed.isEmpty()) {
            rate_->setText("12");  // another change, so that Apply is enabled
        } else {
            directory_->setText(c.typed);
        }
        apply_->click();
        EXPECT_EQ(dialog_.result(), QDialog::Accepted);
        EXPECT_EQ(settings_.DatafileDirectory, c.applied);
    }
}

TEST_F(MonitoringOptionsDlgTest, BrowsingEndsInOneSlashAndReachesTheSettingsOnlyThroughApply) {
    // While closed the browser is owned by no window and only the last browsed folder changes.
    testing::TempDir folder;
    const QString chosen = QString::fromStdString(folder.Path().string());
    chooserAnswer_ = chosen;
    dialog_.BrowseForDataDirectory();
    EXPECT_EQ(chooserCalls_.at(0).parent, nullptr);
    EXPECT_EQ(chooserCalls_[0].title, "Set the destination directory");
    EXPECT_EQ(dialog_.LastBrowsedDirectory(), (chosen + "/").toStdString());
    EXPECT_EQ(directory_->text(), "");  // only an open dialog shows it

    settings_.RecordDataFile = true;
    Open();
    chooserAnswer_ = "/";  // already ends in the separator
    browse_->click();
    EXPECT_EQ(chooserCalls_.at(1).parent, &dialog_);
    EXPECT_EQ(QDir(chooserCalls_[1].start), QDir(chosen));  // starts where the last one ended
    EXPECT_EQ(directory_->text(), "/");
    EXPECT_TRUE(apply_->isEnabled());

    // A cancelled browse changes neither the edit nor the last browsed directory.
    chooserAnswer_.clear();
    dialog_.BrowseForDataDirectory();
    EXPECT_EQ(directory_->text(), "/");
    EXPECT_EQ(dialog_.LastBrowsedDirectory(), "/");
    testing::SendKey(dialog_, Qt::Key_Escape);
    EXPECT_EQ(settings_.DatafileDirectory, "/var/log/clock/");
}

}  // namespace
}  // namespace corvane3
