#pragma once
// "Authorize Command": asks for the user password before a protected command is sent. Apply
// takes a number from 1 to 99999; anything else is refused with a timed message and the prompt
// stays open. User-interface thread only.

#include <QDialog>
#include <QString>
#include <cstdint>

class QLineEdit;
class QPushButton;
class QShowEvent;

namespace corvane3 {

// The passwords the instrument accepts.
inline constexpr long long kPasswordMin = 1;
inline constexpr long long kPasswordMax = 99999;

// A password edit's text read as a decimal number: at most its first 255 characters, leading
// blanks, a sign, then the digits up to the first other character. A text without digits reads
// as 0; values beyond the range of long long saturate.
long long PasswordTextValue(const QString& text);
inline bool IsPasswordInRange(long long value) {
    return value >= kPasswordMin && value <= kPasswordMax;
}

class CAuthorize : public QDialog {
    Q_OBJECT
  public:
    explicit CAuthorize(QWidget* parent = nullptr);

    // The password applied; 0 until the dialog has ended with Accepted.
    std::uint32_t Password() const { return password_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Apply();
    void ResetEdit();

    QLineEdit* edit_ = nullptr;
    QPushButton* apply_ = nullptr;
    std::uint32_t password_ = 0;
};

}  // namespace corvane3
