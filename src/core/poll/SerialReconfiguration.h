#pragma once
// Moving the instrument and then the PC's port to new line settings (command C05).

#include <string>

#include "core/link/SerialPort.h"
#include "core/poll/QuerySteps.h"
#include "core/poll/TimedMessageSink.h"

namespace corvane3 {

// The C05 data for line settings: "baud,data bits,parity letter,stop bits", e.g. "9600,8,N,1".
// Parity codes other than odd and even are sent as N; any stop-bit code but one-bit as 2.
std::string SerialParametersText(const SerialLineSettings& line);

// Runs on the polling thread for the serial reconfiguration request. A port that cannot
// follow a line change (CSerialPort::LineChangeProblem) refuses at once with its reason.
// Checks the security status, sends C05 with the parameter the dialog left in
// SerialReconfigurationParameter and the settings' text, and on acceptance copies the line settings
// (not the port name) into the port, waits for the instrument to switch and has the port reopened
// at the next pass. Messages go to messages. False when nothing was decided: the command could not
// be sent, no reply came, or the mailbox was busy (then the request is set again so that it runs at
// a later pass).
bool ReconfigureSerial(PollContext& context, const SerialLineSettings& rs232,
                       ITimedMessageSink& messages);

}  // namespace corvane3
