#pragma once
// "Vela X Commands": pick any command of the catalogue, type its input, hand it to the polling
// thread and read the instrument's reply in a list. One instance lives for the program's life;
// each opening starts again from the first row with an empty reply list. User-interface thread
// only.

#include <QDialog>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QShowEvent;

namespace corvane3 {

class CPollingShared;
class CUnitState;

class CCommandSelectDlg : public QDialog {
    Q_OBJECT
  public:
    // polling carries the commands and the replies, unit gives the model code the parameter
    // depends on; both must outlive the dialog.
    CCommandSelectDlg(CPollingShared& polling, const CUnitState& unit, QWidget* parent = nullptr);

    // Fills the command list afresh, selects the first row and empties the reply list. Runs on
    // every opening.
    void Load();
    // Hands the selected row's command to the polling thread (dropped when a command is still
    // pending) and adds its echo line to the reply list either way. Nothing without a selection.
    void SendCommand();
    // Adds the lines of the Response buffer to the reply list and scrolls so that the last five
    // are visible. An empty Response buffer changes nothing.
    void ShowReply();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void OnSelectionChanged(int row);
    void AddReplyLine(const std::string& line);

    CPollingShared& polling_;
    const CUnitState& unit_;

    QComboBox* commandList_ = nullptr;
    QLineEdit* input_ = nullptr;
    QLabel* description_ = nullptr;
    QListWidget* replies_ = nullptr;
    QPushButton* send_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace corvane3
