#pragma once
// Writes command frames to the instrument and reads its replies over the serial port.
// No retries and no content checks here: callers judge the reply.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/link/SerialPort.h"

namespace corvane3 {

// Reply limits the callers use, in characters.
inline constexpr int kOrdinaryReplyLimit = 256;
inline constexpr int kCatalogueReplyLimit = 1024;
inline constexpr int kEthernetReplyLimit = 128;
inline constexpr int kDiagnosticsReplyLimit = 64;
inline constexpr int kDdsReadbackLimit = 6;
inline constexpr int kEventLogReplyLimit = 25000;

class CTolvexLink {
  public:
    // modelCode is the identified Instrument model code; it decides whether the Factory access
    // option becomes the Factory access field. Both references must outlive the link.
    CTolvexLink(CSerialPort& port, const std::atomic<std::int32_t>& modelCode)
        : port_(port), modelCode_(modelCode) {}

    // Writes the head (STX, code, blank, parameter field, blank), then the data if there is
    // any, then ETX, each as one write; stops at the first failed write (which has already
    // reset the port). True when every write performed succeeded. Reads nothing.
    bool SendCmd(std::string_view code, std::uint32_t parameter, std::string_view data);

    // Reads the reply one byte at a time into reply until terminator arrives (kept in the
    // text): true. A read time-out (about a second of silence) or limit bytes without the
    // terminator: false, with what arrived. A terminator of 0 reads nothing, leaves reply as it
    // was and returns true. Bytes after the terminator stay queued for the next exchange.
    bool GetResponse(std::string& reply, char terminator, int limit);

    CSerialPort& Port() { return port_; }

  private:
    CSerialPort& port_;
    const std::atomic<std::int32_t>& modelCode_;
};

}  // namespace corvane3
