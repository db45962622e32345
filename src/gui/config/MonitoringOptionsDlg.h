#pragma once
// "Unit Monitoring Options": edits whether the unit is polled and how often, whether status
// records are saved and where, and whether the desktop is notified of the unit's troubles. One
// instance lives for the program's life, so the last browsed directory survives between openings.
// User-interface thread only.

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

#include "core/config/ProgramSettings.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QShowEvent;

namespace corvane3 {

class CMonitoringOptionsDlg : public QDialog {
    Q_OBJECT
  public:
    // Shows a folder chooser owned by parent (may be null) with the given title, starting in
    // startDirectory; returns the chosen folder, or an empty text when the user cancels.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& title,
                                                const QString& startDirectory)>;

    // The settings must outlive the dialog. Apply writes them; Cancel leaves them alone.
    explicit CMonitoringOptionsDlg(CProgramSettings& settings, QWidget* parent = nullptr);

    // Asks for a folder. On a choice, the path with one trailing '/' becomes the last browsed
    // directory and, while the dialog is open, the directory edit's text. A cancel changes
    // nothing. The chooser is owned by this dialog while it is open, otherwise by no window.
    void BrowseForDataDirectory();

    // The last folder chosen with BrowseForDataDirectory (empty before the first choice).
    const std::string& LastBrowsedDirectory() const { return lastBrowsedDirectory_; }

    // Replaces the folder chooser (the default is QFileDialog::getExistingDirectory).
    void SetFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }

    // Shows why Apply refused the input (title, text); the default is a warning box owned by
    // the dialog.
    using Refusal = std::function<void(const QString& title, const QString& text)>;
    void SetRefusal(Refusal refusal) { refuse_ = std::move(refusal); }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void FillFromSettings();
    void UpdateEnabling();
    void ApplyChanges();

    CProgramSettings& settings_;
    FolderChooser chooseFolder_;
    Refusal refuse_;
    std::string lastBrowsedDirectory_;
    QString shownDirectory_;  // the settings' folder as the edit showed it when filled

    QCheckBox* pollingEnable_ = nullptr;
    QLineEdit* pollingRate_ = nullptr;
    QCheckBox* recordEnable_ = nullptr;
    QLineEdit* directory_ = nullptr;
    QPushButton* browse_ = nullptr;
    QLineEdit* filenameTemplate_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QCheckBox* desktopNotifications_ = nullptr;
};

}  // namespace corvane3
