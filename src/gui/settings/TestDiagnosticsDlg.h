#pragma once
// "Test and Diagnostics": starts and ends the instrument's three built-in tests ("A01" to
// "A03"), starts and stops phase slewing, enables 1 PPS sync, and lists every reply and every
// line the unit prints while a test runs (the polling thread listens for them). One for the
// program's run. User-interface thread only.

#include <QDialog>
#include <cstdint>
#include <string>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace corvane3 {

class CPollingShared;
struct MailboxCommand;
enum class ECommand;

class CTestDiagnosticsDlg : public QDialog {
    Q_OBJECT
  public:
    // shared must outlive the dialog.
    explicit CTestDiagnosticsDlg(CPollingShared& shared, QWidget* parent = nullptr);

    // Adds a reply or test line to the list.
    void AddReply(const std::string& text);

    // Closing the dialog in any way asks the polling thread to end the tests still running.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Test1();
    void Test2();
    void Test3();
    void TimeUpdating();
    void PpsSync();
    // True when no command is pending and the Diagnostics mode word holds no bit but own (an
    // end requested counts as another bit: nothing starts until the thread has ended the tests).
    bool MayStart(std::uint32_t own) const;
    // Marks the test whose end this dialog sent as ended, for the thread to finish up.
    void EndOwnTest(std::uint32_t test);
    void Send(ECommand sent, const std::string& data, bool factoryAccess);

    CPollingShared& shared_;
    bool test1Running_ = false;
    bool ppsSyncEnabled_ = false;
    bool timeUpdating_ = false;
    QPushButton* test1_ = nullptr;
    QComboBox* ddsStep_ = nullptr;
    QPushButton* setDds_ = nullptr;
    QComboBox* gainStep_ = nullptr;
    QPushButton* setGain_ = nullptr;
    QLineEdit* slew_ = nullptr;
    QPushButton* timeUpdatingButton_ = nullptr;
    QPushButton* ppsSync_ = nullptr;
    QListWidget* replies_ = nullptr;
};

}  // namespace corvane3
