#pragma once
// The plot window's menu command ids, as its menu resource numbers them. CPlotDlg::Command(id)
// finds an item by them.

#include <array>

#include "core/config/ProgramSettings.h"

namespace corvane3 {

enum EPlotCommand : int {
    // File
    kPlotCmdLiveData = 32821,
    kPlotCmdPurge = 32822,
    kPlotCmdOpen = 32789,
    kPlotCmdPrint = 32790,
    kPlotCmdSavePicture = 32900,
    kPlotCmdExit = 32791,
    // View
    kPlotCmdCursors = 32840,
    kPlotCmdSignalDecay = 32842,
    kPlotCmdData = 32847,
    kPlotCmdFollowFile = 32901,
    // Stuff: one item per Plot view, then Customize
    kPlotCmdClockServo = 32792,
    kPlotCmdZeemanServo = 32793,
    kPlotCmdGainServo = 32794,
    kPlotCmdCbtSupplies = 32795,
    kPlotCmdPowerSupplies = 32796,
    kPlotCmdSystemSupplies = 32799,
    kPlotCmdHopsAndBurps = 32797,
    kPlotCmdUser1 = 32844,
    kPlotCmdUser2 = 32845,
    kPlotCmdCustomize = 32798,
    // Y-Scale
    kPlotCmdYScaleAll = 3801,
    kPlotCmdYScaleAllPlus = 32802,
    kPlotCmdYScaleOneSigma = 32805,
    kPlotCmdYScaleThreeSigma = 32803,
    kPlotCmdYScaleSixSigma = 32806,
    // X-Scale
    kPlotCmdXScaleAll = 32812,
    kPlotCmdXScaleLastWeek = 32813,
    kPlotCmdXScaleLastDay = 32814,
    kPlotCmdXScaleLastHour = 32815,
    // X-Units
    kPlotCmdXUnitMjd = 32808,
    kPlotCmdXUnitDays = 32809,
    kPlotCmdXUnitHours = 32810,
    kPlotCmdXUnitMinutes = 32811,
    kPlotCmdXUnitSeconds = 32816,
    kPlotCmdXUnitUtc = 32817,
    // Help
    kPlotCmdHelpTopics = 32861,
    kPlotCmdAbout = 32837,
};

// The Stuff menu's view items, by Plot view index.
inline constexpr std::array<EPlotCommand, kPlotViewCount> kPlotViewCommands = {
    kPlotCmdClockServo,   kPlotCmdZeemanServo,   kPlotCmdGainServo,
    kPlotCmdCbtSupplies,  kPlotCmdPowerSupplies, kPlotCmdSystemSupplies,
    kPlotCmdHopsAndBurps, kPlotCmdUser1,         kPlotCmdUser2};

}  // namespace corvane3
