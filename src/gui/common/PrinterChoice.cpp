#include "gui/common/PrinterChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QPrintDialog>

namespace corvane3 {

namespace {

constexpr char kPdfSuffix[] = ".pdf";

// The run's last choice. The print dialog runs on the user-interface thread only.
RememberedPrinter& LastChoice() {
    static RememberedPrinter last;
    return last;
}

}  // namespace

QString SuggestedPrintFileName(const QString& windowName, const QDateTime& time) {
    // A fixed layout, whatever the user's language: no names of days or months.
    return QStringLiteral("Corvane3-%1-%2%3")
        .arg(windowName, time.toString(QStringLiteral("yyyy-MM-dd-HHmmss")),
             QString::fromLatin1(kPdfSuffix));
}

void PreparePrinter(QPrinter& printer, const RememberedPrinter& last, const QString& fileName) {
    if (last.chosen && last.toFile) {
        printer.setOutputFileName(QDir(last.folder).filePath(fileName));
        return;
    }
    if (last.chosen && !last.printerName.isEmpty()) {
        printer.setPrinterName(last.printerName);
    }
    // The dialog offers the document's name, without its extension, as the file's.
    QString base = fileName;
    base.chop(static_cast<qsizetype>(sizeof kPdfSuffix - 1));
    printer.setDocName(base);
}

RememberedPrinter RememberPrinter(const QPrinter& printer) {
    RememberedPrinter last;
    last.chosen = true;
    last.toFile = printer.outputFormat() == QPrinter::PdfFormat;
    if (last.toFile) {
        last.folder = QFileInfo(printer.outputFileName()).absolutePath();
    } else {
        last.printerName = printer.printerName();
    }
    return last;
}

std::unique_ptr<QPrinter> ChoosePrinter(const PrinterChooser& chooser, QWidget* parent,
                                        const QString& windowName) {
    if (chooser) {
        return chooser(parent);
    }
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    PreparePrinter(*printer, LastChoice(),
                   SuggestedPrintFileName(windowName, QDateTime::currentDateTime()));
    QPrintDialog dialog(printer.get(), parent);
    if (dialog.exec() != QDialog::Accepted) {
        return nullptr;
    }
    LastChoice() = RememberPrinter(*printer);
    return printer;
}

}  // namespace corvane3
