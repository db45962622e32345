#pragma once
// The one RS-232 port that reaches the instrument, on POSIX termios.
//
// Line settings keep the instrument's own codes (parity 0 none, 1 odd, 2 even, 3 mark, 4 space;
// stop bits 0 one, 1 one and a half, 2 two). A name "COMn" opens /dev/ttyS(n-1); a name
// "rfc2217://HOST:PORT" or "tcp://HOST:PORT" connects to a serial device server on the network
// (see NetworkPortName.h); any other name is a device path (a USB adapter, a pseudo-terminal).
//
// Reads follow the classic serial time-out rule: a read of n bytes gives up after
// ReadTotalConstant + 10 * n ms in total, or as soon as more than 100 ms pass between two bytes.
//
// Every operation is thread-safe on its own. A caller that needs several operations to stay
// together (a command and its reply) holds ExchangeMutex() for the whole exchange. Settings(),
// SetSettings(), IsOpen() and LastOpenError() never wait for a read or write in progress, so the
// interface thread may call them at any time.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/link/LinkStatus.h"

namespace corvane3 {

enum EParityCode : std::uint32_t {
    kParityNone = 0,
    kParityOdd = 1,
    kParityEven = 2,
    kParityMark = 3,
    kParitySpace = 4,
};

enum EStopBitsCode : std::uint32_t {
    kStopBitsOne = 0,
    kStopBitsOneAndHalf = 1,
    kStopBitsTwo = 2,
};

// The port name and line settings. Defaults are the instrument's factory settings.
struct SerialLineSettings {
    std::string name = "COM1";
    std::uint32_t baudRate = 9600;
    std::uint32_t parity = kParityOdd;
    std::uint32_t stopBits = kStopBitsTwo;
    std::uint32_t dataBits = 7;

    bool operator==(const SerialLineSettings&) const = default;
};

// Read time-outs in milliseconds.
inline constexpr int kReadIntervalTimeoutMs = 100;
inline constexpr int kReadTotalMultiplierMs = 10;
inline constexpr int kDefaultReadTotalConstantMs = 1000;
// Read total constant used around long transfers such as event logs.
inline constexpr int kLongReadTotalConstantMs = 30000;

class CSerialTrace;
class CNetworkConnection;

// The device operations an exchange uses are virtual, so that a stand-in can replace the device
// (the fuzz targets feed replies through the real exchange code that way).
class CSerialPort {
  public:
    // linkStatus receives the port's status lines; it must outlive the port.
    explicit CSerialPort(CLinkStatus& linkStatus);
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // A copy of the name and line settings.
    SerialLineSettings Settings() const;
    // Replaces the name and line settings; they take effect at the next ResetPort.
    void SetSettings(const SerialLineSettings& settings);

    // Closes the port if open, then opens the device. Status "RS232 Open" and true, or status
    // "RS232 open failed", closed, and false; LastOpenError() then says why. A path that is not
    // a terminal device (a regular file, a FIFO, /dev/null) is refused; pseudo-terminals are
    // terminals.
    bool OpenPort();
    // Why the last open failed, as the user is told it: "not present", "not a serial port",
    // "in use by process N (NAME)", "Permission denied: add your user to the group ...", or the
    // system's error text (see OpenFailureReason); "" after a successful open.
    std::string LastOpenError() const;
    // Raw mode, the line settings, DTR and RTS raised, no flow control, default read time-outs.
    // Status "RS232 Configured Ok" and true; on failure the port is closed and the result false.
    bool ConfigurePort();
    // Status "RS232 Reset"; drains pending input (for at most 2 s, then discards the rest),
    // closes, reopens and reconfigures. Always true:
    // a failed reopen shows only in the status lines and in the next read or write.
    virtual bool ResetPort();
    // Reads up to count bytes into out (replaced by what arrived; empty if nothing did). With 7
    // data bits each byte is reduced to its low seven bits. True only when all count bytes
    // arrived; a time-out, a gap, end of file or an error gives false. A closed port is reset
    // first.
    virtual bool ReadBytes(std::size_t count, std::string& out);
    // Writes all bytes. A closed port is reset first; when it still cannot be opened the result
    // is false at once. On failure (an error, the peer gone, or no progress for
    // kWriteStallLimitMs) the port is reset and the result is false.
    virtual bool WriteBytes(std::string_view bytes);
    // Sets the read-total constant (ms); interval and multiplier stay as above.
    void SetReadTimeout(int totalConstantMs);
    // Closes the device if open. Always true.
    bool ClosePort();
    bool IsOpen() const;

    // Why the PC side cannot follow a change of line settings, "" when it can: a raw TCP port
    // (the server keeps its own settings), or an RFC 2217 server that did not answer the
    // COM-PORT-OPTION. Known from the name for tcp://; for rfc2217:// from the first configure
    // that went unanswered, which holds for that port name from then on.
    std::string LineChangeProblem() const;

    // Every byte written and read, and each reset, also goes to trace; null for none. An
    // exchange under way keeps the trace it started with alive until it ends.
    void SetTrace(std::shared_ptr<CSerialTrace> trace);

    // Held by a caller for a whole command-and-reply exchange.
    std::mutex& ExchangeMutex() { return exchangeMutex_; }

    // Device path that a port name opens: "COMn" gives /dev/ttyS(n-1); anything else as it is.
    static std::string DevicePathForName(const std::string& name);

  private:
    bool OpenLocked();
    bool ConfigureLocked();
    bool ResetLocked();
    bool ReadLocked(std::size_t count, std::string& out);
    bool CloseLocked();
    bool OpenNetworkLocked(const std::string& name, std::string& error);
    bool ConfigureNetworkLocked(const SerialLineSettings& settings);
    // Waits up to waitMs for input and reads what there is, up to max bytes: the count, 0 when
    // nothing came, -1 when the device or connection is gone.
    long ReadSomeLocked(char* out, std::size_t max, int waitMs);
    bool WriteAllLocked(std::string_view bytes);
    // Tells that a network connection was cut, with its reason, and closes it.
    void NetworkLostLocked();

    CLinkStatus& linkStatus_;
    std::mutex exchangeMutex_;
    // Held for every operation on the device, reads included (up to seconds).
    std::mutex ioMutex_;
    // Held only to copy the settings and the open error, never across device calls.
    mutable std::mutex settingsMutex_;
    SerialLineSettings settings_;
    std::string lastOpenError_;
    std::atomic<int> readTotalConstantMs_{kDefaultReadTotalConstantMs};
    // Written under ioMutex_; read without it by IsOpen().
    std::atomic<int> fd_{-1};
    // The connection of a network port; written under ioMutex_.
    std::unique_ptr<CNetworkConnection> network_;
    std::atomic<bool> networkOpen_{false};
    // Under settingsMutex_: see LineChangeProblem(); and the port whose server was already said
    // not to answer the COM-PORT-OPTION, so that each reconnect does not say it again.
    std::string lineChangeProblem_;
    std::string unansweredSaidFor_;
    std::shared_ptr<CSerialTrace> Trace() const;
    mutable std::mutex traceMutex_;  // held only to copy trace_
    std::shared_ptr<CSerialTrace> trace_;
};

// A write that makes no progress for this long fails (the instrument side has stopped reading).
inline constexpr int kWriteStallLimitMs = 5000;

// Lists the serial ports of this machine as device paths, in the order the kernel lists them:
// /dev/ttyS* that have a real UART behind them, /dev/ttyUSB* and /dev/ttyACM*. The roots can be
// changed for tests.
void EnumerateComPorts(std::vector<std::string>& ports,
                       const std::filesystem::path& sysClassTty = "/sys/class/tty",
                       const std::filesystem::path& devDir = "/dev");

}  // namespace corvane3
