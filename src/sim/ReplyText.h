#pragma once
// The shapes of the simulated unit's replies: the echo of the frame, then a text, CR LF and ETX;
// or a bare text between STX and ETX for the replies the program scans from character 1.

#include <string>

#include "sim/FrameParser.h"

namespace corvane3::sim {

// STX, the code and parameter field padded to their widths, each followed by a blank.
std::string Echo(const ReceivedFrame& frame);
// Echo, text, CR LF, ETX: the usual reply shape.
std::string EchoReply(const ReceivedFrame& frame, const std::string& text);
std::string Accepted(const ReceivedFrame& frame);
std::string NotUnderstood(const ReceivedFrame& frame);
// The reply that refuses a command: its echo and '!' as the third character before ETX.
std::string RefusalReply(const ReceivedFrame& frame);
// STX, text, ETX without an echo.
std::string Bare(const std::string& text);

}  // namespace corvane3::sim
