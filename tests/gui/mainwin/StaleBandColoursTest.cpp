// A reading in a limit band when the unit falls silent: its greyed value stays legible.

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <cmath>
#include <map>

#include "core/alerts/UnitWatch.h"
#include "gui/common/QueuedNotificationSink.h"
#include "gui/mainwin/MainStatusDlg.h"
#include "support/WidgetTestApplication.h"

namespace corvane3 {
namespace {

using StaleBandColoursTest = testing::WidgetTest;

// The contrast ratio of two colours as readability guidelines define it (1 to 21).
double Contrast(QRgb a, QRgb b) {
    const auto luminance = [](QRgb rgb) {
        const auto linear = [](int channel) {
            const double c = channel / 255.0;
            return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(qRed(rgb)) + 0.7152 * linear(qGreen(rgb)) +
               0.0722 * linear(qBlue(rgb));
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// As drawn: the most frequent colour (the background) and the one that stands out most from it
// (the text's strokes).
std::pair<QRgb, QRgb> BackgroundAndText(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    const QRgb background =
        std::ranges::max_element(counts, {}, &std::map<QRgb, int>::value_type::second)->first;
    QRgb text = background;
    for (const auto& [colour, count] : counts) {
        if (Contrast(colour, background) > Contrast(text, background)) {
            text = colour;
        }
    }
    return {background, text};
}

TEST_F(StaleBandColoursTest, AValueInEitherBandStaysLegibleWhenGreyed) {
    // Readable text: a contrast of at least 4.5 to 1.
    constexpr double kLegible = 4.5;
    struct NoAlerts : IDesktopAlertSink {
        void Raise(const DesktopAlert&) override {}
    } desktop;
    Corvane3App app;
    CQueuedNotificationSink sink;
    CMainStatusDlg window(app, sink, nullptr);
    window.SetDesktopAlertSink(desktop);
    CUnitWatch watch({{"VEM", {std::nullopt, 30.0}, {std::nullopt, 33.0}}}, {});
    window.SetUnitWatch(watch);
    window.show();
    auto* box = window.findChild<QLabel*>(QStringLiteral("valueVEM"));
    ASSERT_NE(box, nullptr);
    for (const float vem : {31.0f, 34.0f}) {  // warning, critical
        app.unitState.InstrumentModel = kModelTq9000;
        app.unitState.Online = true;
        app.unitState.Update([vem](UnitStateData& data) {
            data.d1.serialNumber = 1234;
            data.d1.vem = vem;
        });
        window.OnNotification(kNotifyStatusRecord);
        const auto [band, fresh] = BackgroundAndText(box);
        app.unitState.Online = false;
        app.linkStatus.SetLinkStatus(ELinkState::kUnitNotResponding);
        window.OnNotification(kNotifyLinkStatusChanged);
        ASSERT_FALSE(box->isEnabled());
        const auto [background, text] = BackgroundAndText(box);
        EXPECT_GE(Contrast(fresh, band), kLegible) << vem;
        EXPECT_GE(Contrast(text, background), kLegible) << vem;
        EXPECT_NE(text, fresh) << vem;  // still seen to be stale
    }
}

}  // namespace
}  // namespace corvane3
