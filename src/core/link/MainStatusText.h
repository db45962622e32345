#pragma once
// What the main status window shows, worked out from the Unit state: the value boxes with their
// formats, the title, and the status-bar texts. Kept free of widgets so it is tested on its own.

#include <cstdint>
#include <string>
#include <vector>

#include "core/link/UnitState.h"

namespace corvane3 {

// Where a value box is shown.
enum class EValueVisibility {
    kAlways,
    kTq9000Only,  // the "System 24 VDC" group and the display firmware
};

struct ValueBox {
    const char* group;  // group box title
    const char* label;
    const char* unit;  // unit label, or "" for none
    const char* name;  // the value box's objectName
    EValueVisibility visibility;
    std::string (*format)(const UnitStateData& data);
};

// Every value box, grouped, in display order.
const std::vector<ValueBox>& MainStatusValueBoxes();

// "7750", "ChronoBeam/QRT-60", "7730B", "Tq9000", "7730A"; "" for an unknown code.
std::string ModelText(std::int32_t model);
// "Operating", "Warming up", "Minor Fault", "Major Fault", or "".
std::string UnitStatusText(std::uint32_t state);
// "Cesium TOD: %s" when the time text begins with a year from 2001 on, else "Uptime: %s".
std::string TimePaneText(const std::string& timeText);
// The label of the main supply: "+24 VDC" on models 402 and 404, else "+21 VDC".
std::string MainSupplyLabel(std::int32_t model);

// Status pane 1 while no unit answers, so that the port being tried is never a mystery:
// "Port COM1 (/dev/ttyS0)" (a "COMn" name with the device it opens) while it opens,
// "/dev/ttyS0: not present" (the device, then openError) while it cannot be opened.
std::string PortPaneText(const std::string& portName, const std::string& openError);

// Said wherever a window attached to the logging service shows the unit.
inline constexpr char kViaService[] = "via the logging service";

struct TitleInputs {
    bool online = false;
    bool minimised = false;
    bool moreView = true;
    std::string brand;
    std::int32_t model = kModelBeforeIdentification;
    std::uint32_t serialNumber = 0;
    std::string portName;
    bool viaService = false;  // attached to the logging service
};
std::string MainWindowTitle(const TitleInputs& inputs);

// The text of one value box for a model: model 404 shows no burps and hops.
std::string ValueBoxText(const ValueBox& box, const UnitStateData& data, std::int32_t model);

}  // namespace corvane3
