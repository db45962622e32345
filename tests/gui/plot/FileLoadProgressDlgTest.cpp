#include "gui/plot/FileLoadProgressDlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <thread>

#include "core/plot/PlotData.h"
#include "core/telemetry/TelemetryFormat.h"
#include "support/ModalDialogDriver.h"
#include "support/TelemetryTestData.h"
#include "support/TempDir.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using FileLoadProgressTest = testing::WidgetTest;

CFileLoadProgressDlg* OpenProgressWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<CFileLoadProgressDlg*>(widget);
            window && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

TEST_F(FileLoadProgressTest, TheLoadRunsElsewhereWhileTheWindowShowsItsProgress) {
    const std::thread::id interfaceThread = std::this_thread::get_id();
    std::thread::id loadThread;
    std::atomic<bool> seen{false};
    QString shownText;
    // While the load waits, the interface thread still runs: it finds the window and its text.
    QTimer::singleShot(0, [&] {
        if (CFileLoadProgressDlg* window = OpenProgressWindow()) {
            shownText = window->findChild<QLabel*>(QStringLiteral("progressText"))->text();
        }
        seen = true;
    });
    RunWithLoadProgress(QStringLiteral("Filename:\tUnit1234.csd"), [&](LoadProgress& progress) {
        loadThread = std::this_thread::get_id();
        progress.SetText("Filename:\tUnit1234.csd\nNumPoints = 10");
        progress.total = 10;
        for (int i = 0; i < 1000 && !seen; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        progress.done = 10;
    });
    EXPECT_NE(loadThread, interfaceThread);
    EXPECT_TRUE(shownText.startsWith("Filename:\tUnit1234.csd")) << shownText.toStdString();
    EXPECT_EQ(OpenProgressWindow(), nullptr) << "the window closes at the end";
}

TEST_F(FileLoadProgressTest, AFileIsLoadedWholeOrNotAtAllAndTheReaderSaysWhy) {
    testing::TempDir dir;
    const std::string path = (dir.Path() / "Unit1234.csd").string();
    std::ofstream(path, std::ios::binary)
        << TelemetryHeaderLine(kModel7730B) << "\r\n"
        << TelemetryRecordLine(testing::SampleRecord(), kModel7730B) << "\r\n";
    CPlotData store;
    std::atomic<std::int32_t> model{kModelTq9000};
    testing::ModalDialogDriver driver;
    EXPECT_EQ(LoadDataFile(store, path, &model), 0);
    EXPECT_EQ(store.PointCount(), 1);
    EXPECT_EQ(model, kModel7730B);
    EXPECT_TRUE(driver.Messages().empty());

    EXPECT_EQ(LoadDataFile(store, path + "x", &model), -1);
    EXPECT_EQ(store.PointCount(), 1) << "the loaded file stays";
    ASSERT_EQ(driver.Messages().size(), 1u);
    EXPECT_EQ(driver.Messages()[0],
              (testing::ModalDialogDriver::Message{
                  "Read Error", QString::fromStdString("Cannot Open File:\n" + path + "x")}));
}

}  // namespace
}  // namespace corvane3
