#pragma once
// A window that prints a picture of itself, printed to a PDF file: the print time before the
// title while it is taken, the title back afterwards, a landscape page.

#include <gtest/gtest.h>

#include <QPrinter>
#include <QRegularExpression>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "support/TelemetryTestData.h"

namespace corvane3::testing {

// A printer that writes a PDF file, as a print dialog gives one.
inline std::unique_ptr<QPrinter> PdfPrinter(const std::filesystem::path& file) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(QString::fromStdString(file.string()));
    return printer;
}

template <typename Window>
void ExpectTimedLandscapePrint(Window& window, const std::filesystem::path& pdf) {
    const QString title = window.windowTitle();
    QString printedTitle;
    window.SetPrintGrabber([&](QWidget* taken) {
        printedTitle = taken->windowTitle();
        return taken->grab().toImage();
    });
    window.SetPrinterChooser([&](QWidget*) { return PdfPrinter(pdf); });
    window.Print();
    EXPECT_TRUE(QRegularExpression("^\\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}:  " +
                                   QRegularExpression::escape(title) + "$")
                    .match(printedTitle)
                    .hasMatch())
        << printedTitle.toStdString();
    EXPECT_EQ(window.windowTitle(), title);
    const std::string printed = FileText(pdf);
    const auto box = printed.find("/MediaBox [0 0 ");
    ASSERT_NE(box, std::string::npos);
    double width = 0, height = 0;
    std::sscanf(printed.c_str() + box, "/MediaBox [0 0 %lf %lf", &width, &height);
    EXPECT_GT(width, height);
}

}  // namespace corvane3::testing
