#include "widgets/PrinterChoice.h"

#include <QPrintDialog>

namespace corvane3 {

std::unique_ptr<QPrinter> ChoosePrinter(const PrinterChooser& chooser, QWidget* parent) {
    if (chooser) {
        return chooser(parent);
    }
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), parent);
    if (dialog.exec() != QDialog::Accepted) {
        printer.reset();
    }
    return printer;
}

}  // namespace corvane3
