#include "app/MonitoringOptionsDlg.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
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
        settings_.PollingEnabled = true;
        settings_.PollingInterval = 10;
        settings_.RecordDataFile = false;
        settings_.DatafileDirectory = "/var/log/clock/";
        settings_.DataFilenameTemplate = "Unit%ld.csd";
        dialog_.SetFolderChooser(
            [this](QWidget* parent, const QString& title, const QString& start) {
                chooserCalls_.push_back({parent, title, start});
                return chooserAnswer_;
            });
    }

    template <typename Control>
    Control* Find(const char* name) {
        auto* control = dialog_.findChild<Control*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QCheckBox* PollingEnable() { return Find<QCheckBox>("pollingEnableCheck"); }
    QLineEdit* Rate() { return Find<QLineEdit>("pollingRateEdit"); }
    QCheckBox* RecordEnable() { return Find<QCheckBox>("recordEnableCheck"); }
    QLineEdit* Directory() { return Find<QLineEdit>("directoryEdit"); }
    QLineEdit* Template() { return Find<QLineEdit>("filenameTemplateEdit"); }
    QPushButton* Browse() { return Find<QPushButton>("browseButton"); }
    QPushButton* Apply() { return Find<QPushButton>("applyButton"); }
    QPushButton* Cancel() { return Find<QPushButton>("cancelButton"); }

    void Open() {
        dialog_.setResult(-1);
        dialog_.show();
        ASSERT_TRUE(dialog_.isVisible());
    }
    void PressKey(int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&dialog_, &press);
    }

    struct ChooserCall {
        QWidget* parent;
        QString title;
        QString start;
    };

    CProgramSettings settings_;
    CMonitoringOptionsDlg dialog_{settings_};
    std::vector<ChooserCall> chooserCalls_;
    QString chooserAnswer_;
};

TEST_F(MonitoringOptionsDlgTest, OpensWithTheSettingsAndApplyDisabled) {
    Open();
    EXPECT_EQ(dialog_.windowTitle(), "Unit Monitoring Options");
    EXPECT_TRUE(PollingEnable()->isChecked());
    EXPECT_TRUE(Rate()->isEnabled());
    EXPECT_EQ(Rate()->text(), "10");
    EXPECT_FALSE(RecordEnable()->isChecked());
    EXPECT_EQ(Directory()->text(), "/var/log/clock/");
    EXPECT_EQ(Template()->text(), "Unit%ld.csd");
    // Recording is off: where to record is greyed out.
    EXPECT_FALSE(Directory()->isEnabled());
    EXPECT_FALSE(Template()->isEnabled());
    EXPECT_FALSE(Browse()->isEnabled());
    EXPECT_TRUE(Apply()->isDefault());

    // Neither the disabled button nor Enter (its default key) can apply an unchanged dialog.
    EXPECT_FALSE(Apply()->isEnabled());
    Apply()->click();
    PressKey(Qt::Key_Return);
    EXPECT_TRUE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), -1);
}

TEST_F(MonitoringOptionsDlgTest, AnyClickOrEditEnablesApply) {
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"polling box", [&] { PollingEnable()->click(); }},
        {"recording box", [&] { RecordEnable()->click(); }},
        {"rate", [&] { Rate()->setText("11"); }},
        {"directory", [&] { Directory()->setText("/srv/"); }},
        {"template", [&] { Template()->setText("Clock%ld.csd"); }},
    };
    for (const auto& [what, change] : changes) {
        Open();
        ASSERT_FALSE(Apply()->isEnabled()) << what;
        change();
        EXPECT_TRUE(Apply()->isEnabled()) << what;
        dialog_.hide();
    }
}

TEST_F(MonitoringOptionsDlgTest, UncheckedPollingGreysTheRateButApplyKeepsTheEditedInterval) {
    Open();
    Rate()->setText("25");
    PollingEnable()->click();
    EXPECT_FALSE(Rate()->isEnabled());
    EXPECT_EQ(Rate()->text(), "25");

    RecordEnable()->click();
    EXPECT_TRUE(Directory()->isEnabled());
    EXPECT_TRUE(Template()->isEnabled());
    EXPECT_TRUE(Browse()->isEnabled());
    Directory()->setText("/data/unit/");
    Template()->setText("Cs%ld.csd");

    Apply()->click();
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_FALSE(settings_.PollingEnabled);
    EXPECT_EQ(settings_.PollingInterval, 25);
    EXPECT_TRUE(settings_.RecordDataFile);
    EXPECT_EQ(settings_.DatafileDirectory, "/data/unit/");
    EXPECT_EQ(settings_.DataFilenameTemplate, "Cs%ld.csd");
}

TEST_F(MonitoringOptionsDlgTest, CancelAfterEditingChangesNoSettingAndTheNextOpeningShowsThem) {
    Open();
    Rate()->setText("99");
    PollingEnable()->click();
    RecordEnable()->click();
    Directory()->setText("/elsewhere/");
    Template()->setText("x");
    Cancel()->click();
    EXPECT_EQ(dialog_.result(), QDialog::Rejected);

    EXPECT_TRUE(settings_.PollingEnabled);
    EXPECT_EQ(settings_.PollingInterval, 10);
    EXPECT_FALSE(settings_.RecordDataFile);
    EXPECT_EQ(settings_.DatafileDirectory, "/var/log/clock/");
    EXPECT_EQ(settings_.DataFilenameTemplate, "Unit%ld.csd");

    Open();
    EXPECT_EQ(Rate()->text(), "10");
    EXPECT_TRUE(Rate()->isEnabled());
    EXPECT_FALSE(Directory()->isEnabled());
    EXPECT_EQ(Directory()->text(), "/var/log/clock/");
    EXPECT_FALSE(Apply()->isEnabled());
    PressKey(Qt::Key_Escape);
    EXPECT_EQ(dialog_.result(), QDialog::Rejected);
    EXPECT_EQ(settings_.PollingInterval, 10);
}

TEST_F(MonitoringOptionsDlgTest, BrowsingFillsTheDirectoryWithOneTrailingSlash) {
    settings_.RecordDataFile = true;
    Open();
    chooserAnswer_ = "/tmp/logs";
    Browse()->click();
    ASSERT_EQ(chooserCalls_.size(), 1u);
    EXPECT_EQ(chooserCalls_[0].parent, &dialog_);
    EXPECT_EQ(chooserCalls_[0].title, "Set the destination directory");
    EXPECT_EQ(Directory()->text(), "/tmp/logs/");
    EXPECT_EQ(dialog_.LastBrowsedDirectory(), "/tmp/logs/");
    EXPECT_TRUE(Apply()->isEnabled());

    chooserAnswer_ = "/";  // already ends in the separator
    dialog_.BrowseForDataDirectory();
    EXPECT_EQ(Directory()->text(), "/");

    // A cancelled browse changes neither the edit nor the last browsed directory.
    chooserAnswer_.clear();
    dialog_.BrowseForDataDirectory();
    EXPECT_EQ(Directory()->text(), "/");
    EXPECT_EQ(dialog_.LastBrowsedDirectory(), "/");

    // A browsed folder reaches the settings only through Apply.
    Cancel()->click();
    EXPECT_EQ(settings_.DatafileDirectory, "/var/log/clock/");
}

TEST_F(MonitoringOptionsDlgTest, BrowsingWhileClosedOwnsNoWindowAndTheNextBrowseStartsThere) {
    testing::TempDir folder;
    const QString chosen = QString::fromStdString(folder.Path().string());
    const QString shownBefore = Directory()->text();
    chooserAnswer_ = chosen;
    dialog_.BrowseForDataDirectory();
    ASSERT_EQ(chooserCalls_.size(), 1u);
    EXPECT_EQ(chooserCalls_[0].parent, nullptr);
    EXPECT_EQ(dialog_.LastBrowsedDirectory(), (chosen + "/").toStdString());
    EXPECT_EQ(Directory()->text(), shownBefore);  // only an open dialog shows it

    chooserAnswer_.clear();
    Open();
    dialog_.BrowseForDataDirectory();
    ASSERT_EQ(chooserCalls_.size(), 2u);
    EXPECT_EQ(chooserCalls_[1].parent, &dialog_);
    EXPECT_EQ(QDir(chooserCalls_[1].start), QDir(chosen));
    EXPECT_EQ(dialog_.LastBrowsedDirectory(), (chosen + "/").toStdString());
}

TEST_F(MonitoringOptionsDlgTest, RefusesRatesOutsideTheLoadedRangeAndTemplatesThatAreNoFileName) {
    std::vector<QString> refusals;
    dialog_.SetRefusal([&](const QString& title, const QString&) { refusals.push_back(title); });
    struct Case {
        QString rate, nameTemplate;
        bool accepted;
    };
    const Case cases[] = {
        {"0", "Unit%ld.csd", false},       {"1", "Unit%ld.csd", false},
        {"100001", "Unit%ld.csd", false},  {"fast", "Unit%ld.csd", false},
        {"42 seconds", "Unit%ld.csd", false}, {"10", "../../escape%ld.csd", false},
        {"10", "Unit%s.csd", false},       {"10", "..", false},
        {"10", "", false},                 {" 2 ", "Unit%d.csd", true},
        {"100000", "Cs%05u.csd", true},
    };
    for (const Case& c : cases) {
        refusals.clear();
        Open();
        Rate()->setText(c.rate);
        Template()->setText(c.nameTemplate);
        Apply()->click();
        EXPECT_EQ(dialog_.isVisible(), !c.accepted) << c.rate.toStdString() << " "
                                                    << c.nameTemplate.toStdString();
        EXPECT_EQ(refusals.size(), c.accepted ? 0u : 1u);
        if (c.accepted) {
            EXPECT_EQ(settings_.PollingInterval, c.rate.trimmed().toInt());
            EXPECT_EQ(settings_.DataFilenameTemplate, c.nameTemplate.toStdString());
        } else {
            EXPECT_EQ(Rate()->text(), c.rate);  // left for the user to correct
            EXPECT_EQ(settings_.PollingInterval, 10);
            EXPECT_EQ(settings_.DataFilenameTemplate, "Unit%ld.csd");
            dialog_.hide();
        }
        settings_.PollingInterval = 10;
        settings_.DataFilenameTemplate = "Unit%ld.csd";
    }
}

}  // namespace
}  // namespace corvane3
