#pragma once
// One exchange a client of the control socket asked for, run on the unit's link between two
// polling passes and logged in the change log with the client's user.

#include <string>

#include "core/control/ControlProtocol.h"
#include "core/link/SerialPort.h"
#include "core/link/UnitState.h"
#include "core/poll/ChangeLog.h"

namespace corvane3 {

// Holds the port's exchange lock for the whole exchange: the polling thread, which holds it for
// each of its passes, is then between two passes. A command that changes the unit goes into
// log as sent "by <user> via the logging service".
ReplyMessage RunControlExchange(CSerialPort& port, CUnitState& unit, CChangeLog& log,
                                const ControlCommand& command, const std::string& user);

}  // namespace corvane3
