#pragma once
// The four line-settings lists both serial dialogs show: baud rate, data bits, parity and stop
// bits. Load selects the entries for a setting; Store reads the selection back. A selection the
// user changes emits Changed; Load does not. User-interface thread only.

#include <QWidget>

#include "core/link/SerialPort.h"

class QComboBox;
class QGridLayout;

namespace corvane3 {

class CLineSettingsWidget : public QWidget {
    Q_OBJECT
  public:
    // portList, when given, becomes the first row, captioned "Com Port".
    explicit CLineSettingsWidget(QWidget* parent = nullptr, QComboBox* portList = nullptr);

    // Selects the entries for line: the baud entry equal to the rate (unchanged when not
    // listed), parity by code, data bits by (data bits - 7), "2" stop bits for any stop-bit code
    // but one bit. A code the lists do not hold leaves that list as it was.
    void Load(const SerialLineSettings& line);
    // Writes the selected baud rate, parity code, data bits and stop-bit code into line (the
    // name is left alone).
    void Store(SerialLineSettings& line) const;
    // Fills the baud list afresh: every rate, or all but 1200 (a Tq9000 cannot use it). The
    // selection is kept when its rate is still listed.
    void SetBaudRates(bool with1200);

  signals:
    void Changed();

  private:
    void AddRow(const char* label, QComboBox* list);
    QComboBox* AddList(const char* label, const char* objectName, const QStringList& entries);

    QGridLayout* grid_;
    QComboBox* baud_;
    QComboBox* dataBits_;
    QComboBox* parity_;
    QComboBox* stopBits_;
};

}  // namespace corvane3
