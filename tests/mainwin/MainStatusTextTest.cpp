#include "mainwin/MainStatusText.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace corvane3 {
namespace {

const ValueBox& Box(const std::string& name) {
    const auto& boxes = MainStatusValueBoxes();
    return *std::find_if(boxes.begin(), boxes.end(),
                         [&](const ValueBox& box) { return name == box.name; });
}

TEST(MainStatusTextTest, ValueBoxesUseTheirFormats) {
    UnitStateData data;
    data.d1.cRamErr = 12;
    data.d1.vvcxo = 7;
    data.d1.freqTune = -42;
    data.d1.alarm2 = 0x1A;
    data.d1.alarm5 = 0xFF;
    data.d1.tChassis = 31.256f;
    data.d1.oscState = 'f';
    data.d2.nomZRabi = -17;
    data.d5.manufactureDateA = 3;
    data.d5.manufactureDateB = 14;
    data.d5.yearOfManufacture = 2019;
    data.firmwareRevisionLetter = 'B';
    data.firmwareRevision = 12;
    data.b20.source = "AC";
    data.outliers.burpsTotal = 41;
    EXPECT_EQ(ValueBoxText(Box("valueCRamErr"), data, 403), "  12");
    EXPECT_EQ(ValueBoxText(Box("valueVVCXO"), data, 403), "   7");
    EXPECT_EQ(ValueBoxText(Box("valueFreqTune"), data, 403), "-000042");
    EXPECT_EQ(ValueBoxText(Box("valueFaultList"), data, 403), "00,1A,00,00,FF");
    EXPECT_EQ(ValueBoxText(Box("valueTChassis"), data, 403), "31.26\u00BA" "C");
    EXPECT_EQ(ValueBoxText(Box("valueOSCState"), data, 403), "Cold");
    EXPECT_EQ(ValueBoxText(Box("valueNOMZRabi"), data, 403), "-17");
    EXPECT_EQ(ValueBoxText(Box("valueManufactureDate"), data, 403), "03/14/19");
    EXPECT_EQ(ValueBoxText(Box("valueVersion"), data, 403), "B 12");
    EXPECT_EQ(ValueBoxText(Box("valueSource"), data, 403), "   AC");
    EXPECT_EQ(ValueBoxText(Box("valueCBTT"), data, 403), "41");
    EXPECT_EQ(ValueBoxText(Box("valueCBTT"), data, 404), "");  // a 7730A counts no outliers
}

TEST(MainStatusTextTest, StatusPanesAndSupplyLabel) {
    EXPECT_EQ(UnitStatusText(0), "Operating");
    EXPECT_EQ(UnitStatusText(11), "Major Fault");
    EXPECT_EQ(UnitStatusText(2), "");
    EXPECT_EQ(TimePaneText("2007/03/14 12:00:00"), "Cesium TOD: 2007/03/14 12:00:00");
    EXPECT_EQ(TimePaneText("0012:34:56"), "Uptime: 0012:34:56");
    EXPECT_EQ(TimePaneText(""), "Uptime: ");
    EXPECT_EQ(MainSupplyLabel(402), "+24 VDC");
    EXPECT_EQ(MainSupplyLabel(404), "+24 VDC");
    EXPECT_EQ(MainSupplyLabel(403), "+21 VDC");
}

TEST(MainStatusTextTest, TitleFollowsOnlineMinimisedAndView) {
    TitleInputs in;
    in.brand = "";
    in.model = 403;
    in.serialNumber = 1234;
    in.portName = "/dev/ttyUSB0";
    EXPECT_EQ(MainWindowTitle(in), "Corvane3");
    in.online = true;
    EXPECT_EQ(MainWindowTitle(in), " Model Tq9000 SN 1234 on /dev/ttyUSB0");
    in.brand = "Quillmarket";
    in.model = 401;
    EXPECT_EQ(MainWindowTitle(in), "Quillmarket Model ChronoBeam/QRT-60 SN 1234 on /dev/ttyUSB0");
    in.minimised = true;
    EXPECT_EQ(MainWindowTitle(in), "/dev/ttyUSB0: SN 1234");
    in.minimised = false;
    in.moreView = false;
    EXPECT_EQ(MainWindowTitle(in), "/dev/ttyUSB0: SN 1234");
}

}  // namespace
}  // namespace corvane3
