#pragma once
// The port of a window attached to the logging service: the service owns the device, so this
// one never opens it. A step that would reset it, read or write it directly finds nothing
// there; its exchanges go through the service instead (CTolvexLink with a relay).

#include <string>
#include <string_view>

#include "core/link/SerialPort.h"

namespace corvane3 {

class CServicePort : public CSerialPort {
  public:
    using CSerialPort::CSerialPort;

    bool ResetPort() override { return true; }
    bool ReadBytes(std::size_t, std::string& out) override {
        out.clear();
        return false;
    }
    bool WriteBytes(std::string_view) override { return false; }
};

}  // namespace corvane3
