#pragma once
// Choosing the printer a window prints on. The print dialog starts from the printer and the
// folder chosen last in this run, and suggests a file named after the window and the time, so
// that a second print to a file does not overwrite the first.

#include <QDateTime>
#include <QPrinter>
#include <QString>
#include <functional>
#include <memory>

class QWidget;

namespace corvane3 {

// Hands a window its printer without asking (tests give one); empty: the print dialog asks.
using PrinterChooser = std::function<std::unique_ptr<QPrinter>(QWidget* parent)>;

// The printer chosen last: a printer's name, or a PDF file's folder.
struct RememberedPrinter {
    bool chosen = false;
    bool toFile = false;
    QString printerName;
    QString folder;
};

// "Corvane3-<window>-YYYY-MM-DD-hhmmss.pdf", the time in local time.
QString SuggestedPrintFileName(const QString& windowName, const QDateTime& time);

// Sets printer up as last time: a file goes to the same folder under fileName, a printer is
// chosen again by name. Before any choice (or for a printer) the document is named after
// fileName too, which the print dialog offers as the file's name when the user picks a file.
void PreparePrinter(QPrinter& printer, const RememberedPrinter& last, const QString& fileName);

// What the user chose in the print dialog, for the next print.
RememberedPrinter RememberPrinter(const QPrinter& printer);

// The printer chooser gives, else the one the user picks in the print dialog owned by parent,
// prepared from the run's last choice (which the pick then replaces); nullptr when the dialog
// is cancelled. windowName names the suggested file.
std::unique_ptr<QPrinter> ChoosePrinter(const PrinterChooser& chooser, QWidget* parent,
                                        const QString& windowName);

}  // namespace corvane3
