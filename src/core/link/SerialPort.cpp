#include "core/link/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <optional>

#include "core/base/LineReader.h"
#include "core/link/NetworkConnection.h"
#include "core/link/NetworkPortName.h"
#include "core/link/SerialDevice.h"
#include "core/link/SerialTrace.h"

namespace corvane3 {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes read per drain step of ResetPort; a shorter read means the input is empty.
constexpr std::size_t kDrainBlock = 10;
// A unit that keeps talking (test output, a sweep) would keep the drain going forever; after
// this long the rest of the input queue is discarded at once instead.
constexpr std::chrono::milliseconds kDrainLimit{2000};
constexpr std::uint8_t kSevenBitMask = 0x7f;
// A server that takes longer to accept is taken as unreachable for this attempt; the next reset
// tries again.
constexpr std::chrono::milliseconds kNetworkOpenLimit{5000};
// Each answer to a line setting request; a server that does not answer is treated as raw.
constexpr std::chrono::milliseconds kLineAnswerLimit{2000};
constexpr char kServerDidNotAnswer[] =
    "the server did not answer the COM-PORT-OPTION: its line settings stay as they are";

int MillisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool SpeedForBaud(std::uint32_t baud, speed_t& speed) {
    struct Entry {
        std::uint32_t baud;
        speed_t speed;
    };
    static constexpr Entry kSpeeds[] = {
        {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
        {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
        {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const Entry& entry : kSpeeds) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

tcflag_t CharacterSizeFlag(std::uint32_t dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

tcflag_t ParityFlags(std::uint32_t parity) {
    switch (parity) {
        case kParityOdd:
            return PARENB | PARODD;
        case kParityEven:
            return PARENB;
        case kParityMark:
            return PARENB | CMSPAR | PARODD;
        case kParitySpace:
            return PARENB | CMSPAR;
        default:
            return 0;
    }
}

// Unix98 pseudo-terminal slaves have these device majors.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;
// A sysfs attribute is one short line.
constexpr std::size_t kSysfsLineBytes = 4096;

bool IsPseudoTerminal(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) &&
           major(info.st_rdev) >= kFirstPtyMajor && major(info.st_rdev) <= kLastPtyMajor;
}

// tcsetattr reports EINVAL when the driver dropped the character size or parity; a
// pseudo-terminal always does (it has no line), which is no reason to refuse it.
bool ApplyTermios(int fd, const termios& tio) {
    return ::tcsetattr(fd, TCSANOW, &tio) == 0 || (errno == EINVAL && IsPseudoTerminal(fd));
}

}  // namespace

CSerialPort::CSerialPort(CLinkStatus& linkStatus) : linkStatus_(linkStatus) {}

CSerialPort::~CSerialPort() {
    std::lock_guard lock(ioMutex_);
    CloseLocked();
}

std::string CSerialPort::LineChangeProblem() const {
    const SerialLineSettings settings = Settings();
    const std::optional<NetworkPortAddress> address = ParseNetworkPortName(settings.name);
    if (address && address->protocol == ENetworkProtocol::kRawTcp) {
        return kRawTcpLineFixed;
    }
    std::lock_guard lock(settingsMutex_);
    return address && unansweredSaidFor_ == settings.name ? lineChangeProblem_ : std::string();
}

SerialLineSettings CSerialPort::Settings() const {
    std::lock_guard lock(settingsMutex_);
    return settings_;
}

void CSerialPort::SetSettings(const SerialLineSettings& settings) {
    std::lock_guard lock(settingsMutex_);
    settings_ = settings;
}

std::string CSerialPort::LastOpenError() const {
    std::lock_guard lock(settingsMutex_);
    return lastOpenError_;
}

std::string CSerialPort::DevicePathForName(const std::string& name) {
    const bool comPrefix = name.size() > 3 &&
                           std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
                           std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
                           std::toupper(static_cast<unsigned char>(name[2])) == 'M';
    if (!comPrefix) {
        return name;
    }
    unsigned long number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || number > 100000) {
            return name;
        }
        number = number * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    if (number == 0) {
        return name;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

bool CSerialPort::OpenPort() {
    std::lock_guard lock(ioMutex_);
    return OpenLocked();
}

bool CSerialPort::ConfigurePort() {
    std::lock_guard lock(ioMutex_);
    return ConfigureLocked();
}

bool CSerialPort::ResetPort() {
    std::lock_guard lock(ioMutex_);
    return ResetLocked();
}

bool CSerialPort::ReadBytes(std::size_t count, std::string& out) {
    std::lock_guard lock(ioMutex_);
    if (!IsOpen()) {
        ResetLocked();
    }
    return ReadLocked(count, out);
}

bool CSerialPort::ClosePort() {
    std::lock_guard lock(ioMutex_);
    return CloseLocked();
}

void CSerialPort::SetTrace(std::shared_ptr<CSerialTrace> trace) {
    std::lock_guard lock(traceMutex_);
    trace_ = std::move(trace);
}

std::shared_ptr<CSerialTrace> CSerialPort::Trace() const {
    std::lock_guard lock(traceMutex_);
    return trace_;
}

bool CSerialPort::IsOpen() const {
    return fd_ >= 0 || networkOpen_;
}

void CSerialPort::SetReadTimeout(int totalConstantMs) {
    readTotalConstantMs_ = totalConstantMs;
}

bool CSerialPort::OpenLocked() {
    CloseLocked();
    const std::string name = Settings().name;
    if (IsNetworkPortName(name)) {
        std::string error;
        const bool opened = OpenNetworkLocked(name, error);
        {
            std::lock_guard lock(settingsMutex_);
            lastOpenError_ = error;
        }
        if (opened) {
            linkStatus_.SetLinkStatus(ELinkState::kRs232Open);
        } else {
            linkStatus_.SetLinkStatus(ELinkState::kRs232OpenFailed, name + ": " + error);
        }
        return opened;
    }
    const std::string path = DevicePathForName(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    std::string error;
    if (fd < 0) {
        // A USB adapter that is unplugged takes its device node with it.
        const bool absent = errno == ENOENT || errno == ENODEV || errno == ENXIO;
        error = absent ? std::string(kPortNotPresent) : OpenFailureReason(path, errno);
    } else if (::isatty(fd) != 1) {
        // A regular file, a FIFO or /dev/null would "answer" with end of file or nothing and be
        // polled forever.
        error = kNotASerialPort;
        ::close(fd);
    } else if (!LockSerialDevice(fd)) {
        // Two programs on one port spoil each other's replies.
        error = SerialDeviceInUse(path);
        ::close(fd);
    }
    {
        std::lock_guard lock(settingsMutex_);
        lastOpenError_ = error;
    }
    if (!error.empty()) {
        linkStatus_.SetLinkStatus(ELinkState::kRs232OpenFailed);
        return false;
    }
    fd_ = fd;
    // No sharing: a second program that opens the same port is refused (root excepted).
    ::ioctl(fd, TIOCEXCL);
    linkStatus_.SetLinkStatus(ELinkState::kRs232Open);
    return true;
}

bool CSerialPort::OpenNetworkLocked(const std::string& name, std::string& error) {
    const std::optional<NetworkPortAddress> address = ParseNetworkPortName(name);
    if (!address) {
        error = kBadNetworkAddress;
        return false;
    }
    if (!network_) {
        network_ = std::make_unique<CNetworkConnection>();
    }
    error = network_->Open(*address, kNetworkOpenLimit);
    networkOpen_ = error.empty();
    return networkOpen_;
}

bool CSerialPort::ConfigureNetworkLocked(const SerialLineSettings& settings) {
    // A server found not to answer is not asked again when the same port reconnects: the
    // library keeps every unanswered request allocated, which years of reconnects would pile up.
    bool foundSilent;
    {
        std::lock_guard lock(settingsMutex_);
        foundSilent = unansweredSaidFor_ == settings.name;
    }
    const ELineRequest result =
        foundSilent ? ELineRequest::kNotAnswered
                    : network_->SetLine(settings.baudRate, settings.dataBits, settings.parity,
                                        settings.stopBits, kLineAnswerLimit);
    if (!network_->Problem().empty()) {
        NetworkLostLocked();
        return false;
    }
    bool sayIt = false;
    {
        std::lock_guard lock(settingsMutex_);
        if (result == ELineRequest::kNotAnswered) {
            // Said once per port.
            sayIt = unansweredSaidFor_ != settings.name;
            unansweredSaidFor_ = settings.name;
            lineChangeProblem_ = kServerDidNotAnswer;
        }
    }
    readTotalConstantMs_ = kDefaultReadTotalConstantMs;
    if (sayIt) {
        linkStatus_.SetLinkStatus(ELinkState::kRs232Configured,
                                  settings.name + ": " + kServerDidNotAnswer);
    } else {
        linkStatus_.SetLinkStatus(ELinkState::kRs232Configured);
    }
    return true;
}

void CSerialPort::NetworkLostLocked() {
    const std::string reason = network_->Problem();
    {
        std::lock_guard lock(settingsMutex_);
        lastOpenError_ = reason;
    }
    linkStatus_.SetLinkStatus(ELinkState::kReceiveFailed, Settings().name + ": " + reason);
    CloseLocked();
}

bool CSerialPort::ConfigureLocked() {
    const SerialLineSettings settings = Settings();
    if (networkOpen_) {
        return ConfigureNetworkLocked(settings);
    }
    termios tio{};
    speed_t speed{};
    if (fd_ < 0 || ::tcgetattr(fd_, &tio) != 0 || !SpeedForBaud(settings.baudRate, speed)) {
        CloseLocked();
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CharacterSizeFlag(settings.dataBits) | ParityFlags(settings.parity);
    if (settings.stopBits != kStopBitsOne) {
        tio.c_cflag |= CSTOPB;  // one and a half is not available here; two is the nearest
    }
    // Received bytes are passed on as they arrive, parity errors included (INPCK off), and no
    // software flow control.
    tio.c_iflag &= ~(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
    // Reads are timed with poll(2), so the driver returns whatever is there at once.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
        !ApplyTermios(fd_, tio)) {
        CloseLocked();
        return false;
    }
    // DTR and RTS held asserted. A pseudo-terminal has no modem lines and refuses the call.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd_, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        CloseLocked();
        return false;
    }
    readTotalConstantMs_ = kDefaultReadTotalConstantMs;
    linkStatus_.SetLinkStatus(ELinkState::kRs232Configured);
    return true;
}

bool CSerialPort::ResetLocked() {
    linkStatus_.SetLinkStatus(ELinkState::kRs232Reset);
    if (const std::shared_ptr<CSerialTrace> trace = Trace()) {
        trace->Note("port reset");
    }
    if (IsOpen()) {
        const auto deadline = Clock::now() + kDrainLimit;
        std::string discarded;
        while (ReadLocked(kDrainBlock, discarded) && Clock::now() < deadline) {
        }
        if (fd_ >= 0) {
            ::tcflush(fd_, TCIFLUSH);
        }
    }
    CloseLocked();
    if (OpenLocked()) {
        ConfigureLocked();
    }
    return true;
}

bool CSerialPort::ReadLocked(std::size_t count, std::string& out) {
    out.clear();
    if (!IsOpen() || count == 0) {
        return IsOpen();
    }
    std::string buffer(count, '\0');
    std::size_t got = 0;
    const bool sevenBits = Settings().dataBits == 7;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(readTotalConstantMs_.load() +
                                                 kReadTotalMultiplierMs * static_cast<long>(count));
    Clock::time_point lastByte{};
    while (got < count) {
        int wait = MillisecondsUntil(deadline);
        if (got > 0) {
            wait = std::min(
                wait,
                MillisecondsUntil(lastByte + std::chrono::milliseconds(kReadIntervalTimeoutMs)));
        }
        if (wait <= 0) {
            break;
        }
        const long n = ReadSomeLocked(buffer.data() + got, count - got, wait);
        if (n < 0) {
            break;  // the other side has gone
        }
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            lastByte = Clock::now();
        }
        // with nothing read, the loop head decides whether a time-out has expired
    }
    buffer.resize(got);
    if (sevenBits) {
        for (char& c : buffer) {
            c = static_cast<char>(static_cast<std::uint8_t>(c) & kSevenBitMask);
        }
    }
    if (const std::shared_ptr<CSerialTrace> trace = Trace(); trace && !buffer.empty()) {
        trace->Read(buffer);
    }
    out = std::move(buffer);
    return got == count;
}

long CSerialPort::ReadSomeLocked(char* out, std::size_t max, int waitMs) {
    if (networkOpen_) {
        const long n = network_->Read(out, max, std::chrono::milliseconds(waitMs));
        if (n < 0) {
            NetworkLostLocked();
        }
        return n;
    }
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, waitMs);
    if (ready < 0) {
        return errno == EINTR ? 0 : -1;
    }
    if (ready == 0) {
        return 0;
    }
    if ((pfd.revents & POLLIN) == 0) {
        return -1;  // hang-up or error with nothing left to read
    }
    const ssize_t n = ::read(fd_, out, max);
    if (n > 0) {
        return n;
    }
    return n == 0 || (errno != EAGAIN && errno != EINTR) ? -1 : 0;  // end of file: gone
}

bool CSerialPort::WriteBytes(std::string_view bytes) {
    std::lock_guard lock(ioMutex_);
    if (!IsOpen()) {
        ResetLocked();
        if (!IsOpen()) {
            return false;  // the reopen has just failed; another reset would only repeat it
        }
    }
    if (const std::shared_ptr<CSerialTrace> trace = Trace()) {
        trace->Written(bytes);
    }
    if (!WriteAllLocked(bytes)) {
        if (networkOpen_ && !network_->Problem().empty()) {
            NetworkLostLocked();
        }
        ResetLocked();
        return false;
    }
    return true;
}

bool CSerialPort::WriteAllLocked(std::string_view bytes) {
    if (networkOpen_) {
        return network_->Write(bytes, std::chrono::milliseconds(kWriteStallLimitMs));
    }
    std::size_t written = 0;
    bool failed = false;
    while (!failed && written < bytes.size()) {
        pollfd pfd{fd_, POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, kWriteStallLimitMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (pfd.revents & POLLOUT) == 0) {
            failed = true;
            break;
        }
        const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            failed = true;
        }
    }
    return !failed;
}

bool CSerialPort::CloseLocked() {
    if (network_) {
        network_->Close();
    }
    networkOpen_ = false;
    if (fd_ >= 0) {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }
    fd_ = -1;
    return true;
}

void EnumerateComPorts(std::vector<std::string>& ports, const std::filesystem::path& sysClassTty,
                       const std::filesystem::path& devDir) {
    namespace fs = std::filesystem;
    ports.clear();
    std::error_code error;
    for (fs::directory_iterator it(sysClassTty, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        const bool uart = name.starts_with("ttyS");
        if (!uart && !name.starts_with("ttyUSB") && !name.starts_with("ttyACM")) {
            continue;
        }
        std::error_code ignored;
        if (!fs::exists(it->path() / "device", ignored)) {
            continue;  // a virtual terminal, not a port
        }
        if (uart) {
            // The kernel creates ttyS entries for every possible 8250 slot; type 0 means no UART.
            int type = 0;
            ReadLinesOf((it->path() / "type").string(), kSysfsLineBytes,
                        [&](const std::string& line) {
                            type = std::atoi(line.c_str());
                            return false;
                        });
            if (type == 0) {
                continue;
            }
        }
        ports.push_back((devDir / name).string());
    }
}

}  // namespace corvane3
