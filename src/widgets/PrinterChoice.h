#pragma once
// Choosing the printer a window prints on.

#include <QPrinter>
#include <functional>
#include <memory>

class QWidget;

namespace corvane3 {

// Hands a window its printer without asking (tests give one); empty: the print dialog asks.
using PrinterChooser = std::function<std::unique_ptr<QPrinter>(QWidget* parent)>;

// The printer chooser gives, else the one the user picks in the print dialog owned by parent;
// nullptr when the dialog is cancelled.
std::unique_ptr<QPrinter> ChoosePrinter(const PrinterChooser& chooser, QWidget* parent);

}  // namespace corvane3
