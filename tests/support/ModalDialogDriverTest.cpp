// The test driver for modal dialogs: a dialog its handler leaves open behind a message the test
// did not expect fails the test at once instead of waiting for a click that never comes.

#include "support/ModalDialogDriver.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>

#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using ModalDialogDriverTest = testing::WidgetTest;

TEST_F(ModalDialogDriverTest, ADialogLeftOpenBehindAMessageFailsTheTestAndIsClosed) {
    for (const bool closesItself : {false, true}) {
        SCOPED_TRACE(closesItself ? "handler closes the dialog" : "handler leaves it open");
        QDialog dialog;
        auto* apply = new QPushButton(QStringLiteral("Apply"), &dialog);
        QObject::connect(apply, &QPushButton::clicked, &dialog, [&dialog] {
            QMessageBox box(QMessageBox::Warning, QStringLiteral(" "),
                            QStringLiteral("Out of range"), QMessageBox::Ok, &dialog);
            box.exec();
        });
        ::testing::TestPartResultArray failures;
        int result = -1;
        {
            const ::testing::ScopedFakeTestPartResultReporter reporter(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                &failures);
            testing::ModalDialogDriver driver([&](QDialog& shown) {
                apply->click();
                if (closesItself) {
                    shown.accept();
                }
            });
            result = dialog.exec();
            EXPECT_EQ(driver.Messages().size(), 1u);
        }
        EXPECT_EQ(result, closesItself ? QDialog::Accepted : QDialog::Rejected);
        ASSERT_EQ(failures.size(), closesItself ? 0 : 1);
        if (!closesItself) {
            EXPECT_NE(std::string(failures.GetTestPartResult(0).message())
                          .find("left open after the unexpected message \"Out of range\""),
                      std::string::npos)
                << failures.GetTestPartResult(0).message();
        }
    }
}

}  // namespace
}  // namespace corvane3
