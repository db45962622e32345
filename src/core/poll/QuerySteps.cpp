#include "core/poll/QuerySteps.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "core/link/CommandFrame.h"
#include "core/link/NetworkPortName.h"
#include "core/link/StatusRecords.h"

namespace corvane3 {

namespace {

// Where the queries find their values, counted from the reply's STX.
constexpr std::size_t kVersionLetterOffset = 8;
constexpr std::size_t kVersionNumberOffset = 10;
constexpr std::size_t kVersionReplyCut = 37;
constexpr std::size_t kDisplayFirmwareCut = 7;
constexpr std::size_t kAbsentInterfaceMark = 11;  // '?' here: the interface is not fitted
constexpr std::size_t kSecurityStateAt = 11;
constexpr std::size_t kUnitTimeAt = 26;
constexpr std::size_t kUnitTimeTrailer = 3;  // CR, LF, ETX

char At(const std::string& text, std::size_t index) {
    return index < text.size() ? text[index] : '\0';
}

// The reply cut at index (a terminator placed there), as a C string would see it.
std::string CutAt(const std::string& text, std::size_t index) {
    return text.substr(0, std::min(index, text.size()));
}

// The text from index on, or empty.
std::string From(const std::string& text, std::size_t index) {
    return index < text.size() ? text.substr(index) : std::string();
}

// The reply without its final ETX, from character 1 on.
std::string Payload(const std::string& reply) {
    std::string text = reply;
    if (!text.empty() && text.back() == kEtx) {
        text.pop_back();
    }
    return From(text, 1);
}

// A number-and-text pair, "%d %s"; the text is emptied first.
void ScanNumberAndText(const std::string& payload, std::int32_t& number, std::string& text) {
    text.clear();
    int value = number;
    char word[kEthernetReplyLimit + 1] = {};
    const int scanned = std::sscanf(payload.c_str(), "%d %128s", &value, word);
    if (scanned >= 1) {
        number = value;
    }
    if (scanned >= 2) {
        text = word;
    }
}

}  // namespace

std::vector<std::string> DefaultPortList(const CSerialPort& port) {
    std::vector<std::string> ports;
    EnumerateComPorts(ports);
    const std::string configured = CSerialPort::DevicePathForName(port.Settings().name);
    if (std::find(ports.begin(), ports.end(), configured) == ports.end()) {
        ports.push_back(configured);
    }
    return ports;
}

bool CQuerySteps::Exchange(ECommand command, std::uint32_t parameter, const char* data,
                           std::string& reply) {
    return c_.link.SendCmd(CommandCode(command), parameter, data) &&
           c_.link.GetResponse(reply, kEtx, ReplyLimit(command));
}

bool CQuerySteps::Identification() {
    Status("Version...");
    std::string reply;
    bool ok = Exchange(ECommand::kReportVersion, 0, "", reply);
    c_.shared.Response.Set(reply);
    if (ok) {
        const auto word = reply.find("Version");
        if (word != std::string::npos) {
            const std::string cut = CutAt(reply, kVersionReplyCut);
            c_.unit.Update([&](UnitStateData& data) {
                if (word + kVersionLetterOffset < cut.size()) {
                    data.firmwareRevisionLetter = cut[word + kVersionLetterOffset];
                }
                const std::string number = From(cut, word + kVersionNumberOffset);
                if (!number.empty()) {
                    data.firmwareRevision = static_cast<std::int32_t>(std::atol(number.c_str()));
                }
            });
        }
        Status("Version...OK");
    }
    if (c_.unit.InstrumentModel == kModelTq9000) {
        Status("DCC Version...");
        ok = Exchange(ECommand::kGetDccFirmwareVersion, 0, "", reply);
        c_.shared.Response.Set(reply);
        if (ok) {
            const std::string firmware = From(CutAt(reply, kDisplayFirmwareCut), 1);
            c_.unit.Update([&](UnitStateData& data) { data.displayFirmware = firmware; });
            Status("DCC Version...OK");
        }
    }
    return ok;
}

bool CQuerySteps::PollStep() {
    Status(ELinkState::kPolling);
    const double mjd = ModifiedJulianDate(static_cast<double>(std::time(nullptr)));
    c_.unit.Update([&](UnitStateData& data) { data.mjd = mjd; });

    Status("D1...");
    bool ok = ReadD1Record(c_.link, c_.unit);
    if (ok) {
        Status("D1...OK");
        Status("D2...");
        ok = ReadD2Record(c_.link, c_.unit);
        if (ok) {
            Status("D2...OK");
        }
    }
    // The model as D*2 has just reported it: the identity poll cannot read every model's code
    // (a 7730A reports "ver"), so the code from before this poll may be stale.
    const std::int32_t model = c_.unit.InstrumentModel;
    if (ok && model != kModel7730A) {
        Status("NVRAM...");
        ok = ReadD5Record(c_.link, c_.unit);
        if (ok) {
            Status("NVRAM...OK");
        }
    }
    if (ok && model == kModelTq9000) {
        Status("DCC...");
        ok = ReadB20Record(c_.link, c_.unit);
        if (ok) {
            Status("DCC...OK");
        }
    }
    if (model == kModel7730A) {
        c_.unit.Update([](UnitStateData& data) { data.outliers = OutlierCounts{}; });
    } else if (ok) {
        Status("Outliers...");
        std::string reply;
        ok = Exchange(ECommand::kGetOutlierCounts, kFactoryAccessOption, "", reply);
        c_.shared.Response.Set(reply);
        if (ok) {
            c_.unit.Update([&](UnitStateData& data) {
                OutlierCounts& counts = data.outliers;
                std::sscanf(From(reply, 1).c_str(), "%d,%d,%d,%d", &counts.burpsToday,
                            &counts.burpsTotal, &counts.hopsToday, &counts.hopsTotal);
            });
            Status("Outliers...OK");
        }
    }
    if (ok) {
        ok = DateAndTime();
    }
    if (ok) {
        Status(ELinkState::kPollDone);
    } else {
        Status(ELinkState::kPollFailed);
        c_.port.ResetPort();
    }
    return ok;
}

bool CQuerySteps::ReadEventLog(ECommand command, std::uint32_t parameter,
                               std::string QueryResults::*log) {
    Status("Retrieve Event Log...");
    const bool tq9000 = c_.unit.InstrumentModel == kModelTq9000;
    if (tq9000) {
        c_.port.SetReadTimeout(kLongReadTotalConstantMs);
    }
    // The reply is read even when the send failed, as the unit may still be talking.
    c_.link.SendCmd(CommandCode(command), parameter, "");
    std::string text;
    const bool ok = c_.link.GetResponse(text, kEtx, ReplyLimit(command));
    c_.shared.Results.Update([&](QueryResults& results) { results.*log = text; });
    c_.port.SetReadTimeout(kDefaultReadTotalConstantMs);
    if (ok) {
        Status("Retrieve Event Log...OK");
    }
    return ok;
}

bool CQuerySteps::EventLog() {
    return ReadEventLog(ECommand::kRetrieveEventLog, 0, &QueryResults::eventLog);
}

bool CQuerySteps::FactoryEventLog() {
    if (c_.unit.InstrumentModel == kModelChronoBeam) {
        return ReadEventLog(ECommand::kRetrieveFactoryEventLog, kFactoryAccessOption,
                            &QueryResults::factoryEventLog);
    }
    return ReadEventLog(ECommand::kRetrieveEventLog, 0, &QueryResults::factoryEventLog);
}

bool CQuerySteps::DccTelecom() {
    Status("DCC Telecom...");
    std::string reply;
    if (!Exchange(ECommand::kGetDccT1, 0, "", reply)) {
        c_.port.ResetPort();
        return false;
    }
    c_.shared.Response.Set(reply);
    DccTelecomSettings telecom = c_.shared.Results.Snapshot().telecom;
    telecom.t1Present = At(reply, kAbsentInterfaceMark) != '?';
    if (telecom.t1Present) {
        // "FF SSS": framing in characters 1-2, SSM in 4-6.
        const std::string framing = CutAt(From(reply, 1), 2);
        const std::string ssm = CutAt(From(reply, 4), 3);
        telecom.t1Framing = framing == "ES" ? 0 : 1;
        telecom.t1Ssm = ssm == "SSM" ? 0 : ssm == "MUT" ? 1 : 2;
    }
    if (!Exchange(ECommand::kGetDccE1, 0, "", reply)) {
        c_.port.ResetPort();
        return false;
    }
    c_.shared.Response.Set(reply);
    telecom.e1Present = At(reply, kAbsentInterfaceMark) != '?';
    if (telecom.e1Present) {
        // "CRCxA TSxxB MMM SSMn": flags at characters 5 and 11, mute text at 13-15, number at 20.
        telecom.e1FlagA = std::atoi(CutAt(From(reply, 5), 1).c_str()) == 1;
        telecom.e1FlagB = std::atoi(CutAt(From(reply, 11), 1).c_str()) == 1;
        telecom.e1Mute = CutAt(From(reply, 13), 3) == "MUT" ? 0 : 1;
        telecom.e1Number = std::atoi(CutAt(From(reply, 20), 1).c_str());
    }
    c_.shared.Results.Update([&](QueryResults& results) { results.telecom = telecom; });
    Status("DCC Telecom...OK");
    return true;
}

bool CQuerySteps::TimeOfDay() {
    if (c_.unit.InstrumentModel != kModelTq9000) {
        return false;
    }
    Status("TOD...");
    std::string reply;
    if (!Exchange(ECommand::kGetDccTime, 0, "", reply)) {
        c_.port.ResetPort();
        return false;
    }
    c_.shared.Response.Set(reply);
    unsigned seconds = 0;
    if (std::sscanf(Payload(reply).c_str(), "%u", &seconds) == 1) {
        c_.shared.Results.Update([&](QueryResults& results) { results.dccTime = seconds; });
    }
    Status("TOD...OK");
    return true;
}

bool CQuerySteps::Ethernet() {
    if (c_.unit.InstrumentModel != kModelTq9000) {
        return false;
    }
    Status("Ethernet...");
    EthernetSettings ethernet = c_.shared.Results.Snapshot().ethernet;
    std::string reply;
    if (!Exchange(ECommand::kGetDccEthernet, 0, "", reply)) {
        c_.port.ResetPort();
        return false;
    }
    auto& ip = ethernet.ipAddress;
    auto& mask = ethernet.netmask;
    auto& gw = ethernet.gateway;
    std::sscanf(Payload(reply).c_str(), "%d %d %d.%d.%d.%d %d.%d.%d.%d %d.%d.%d.%d",
                &ethernet.ethernetEnable, &ethernet.dhcpEnable, &ip[0], &ip[1], &ip[2], &ip[3],
                &mask[0], &mask[1], &mask[2], &mask[3], &gw[0], &gw[1], &gw[2], &gw[3]);
    if (!Exchange(ECommand::kGetDccHostName, 0, "", reply)) {
        c_.port.ResetPort();
        return false;
    }
    ScanNumberAndText(Payload(reply), ethernet.number1, ethernet.text1);
    if (!Exchange(ECommand::kGetDccDomain, 0, "", reply)) {
        c_.port.ResetPort();
        return false;
    }
    ScanNumberAndText(Payload(reply), ethernet.number2, ethernet.text2);
    c_.shared.Results.Update([&](QueryResults& results) { results.ethernet = ethernet; });
    Status("Ethernet...OK");
    return true;
}

bool CQuerySteps::DateAndTime() {
    if (c_.unit.InstrumentModel == kModel7730A) {
        return true;
    }
    Status("Date and Time...");
    std::string reply;
    if (!Exchange(ECommand::kGetDateAndTime, 0, "", reply)) {
        c_.port.ResetPort();
        return false;
    }
    c_.shared.Response.Set(reply);
    if (std::isdigit(static_cast<unsigned char>(At(reply, kUnitTimeAt)))) {
        std::string time = From(reply, kUnitTimeAt);
        time.resize(time.size() >= kUnitTimeTrailer ? time.size() - kUnitTimeTrailer : time.size());
        c_.unit.Update([&](UnitStateData& data) { data.timeText = time; });
        Status("Date and Time...OK");
    }
    return true;
}

bool CQuerySteps::SecurityCheck() {
    Status("Security Check...");
    c_.shared.Response.Set("");
    if (!c_.link.SendCmd(CommandCode(ECommand::kGetSecurityStatus), 0, "")) {
        c_.shared.SecurityStatus = false;
        return false;
    }
    std::string reply;
    const bool ok = c_.link.GetResponse(reply, kEtx, ReplyLimit(ECommand::kGetSecurityStatus));
    c_.shared.Response.Set(reply);
    c_.shared.SecurityStatus = At(reply, kSecurityStateAt) == '1';
    Status("Security Check...OK");
    return ok;
}

bool CQuerySteps::Attempt(const SerialLineSettings& settings) {
    c_.port.SetSettings(settings);
    c_.sink.PostNotification(kNotifyAutoDetectProgress);
    c_.port.ResetPort();
    const bool found = CheckIdentity(c_.link, c_.unit);
    c_.unit.Online = found;
    return found;
}

bool CQuerySteps::AutoDetect(const PortLister& listPorts,
                             const std::function<bool()>& keepSearching) {
    struct Line {
        std::uint32_t baud, dataBits, parity, stopBits;
    };
    static constexpr Line kQuickPass[] = {
        {2400, 7, kParityOdd, kStopBitsTwo},  {2400, 8, kParityNone, kStopBitsOne},
        {9600, 7, kParityOdd, kStopBitsTwo},  {9600, 8, kParityNone, kStopBitsOne},
        {19200, 7, kParityOdd, kStopBitsTwo}, {19200, 8, kParityNone, kStopBitsOne},
    };
    static constexpr std::uint32_t kFullPassBauds[] = {2400, 4800, 9600, 19200};
    static constexpr std::uint32_t kFullPassParities[] = {kParityNone, kParityOdd, kParityEven};
    // In the full pass every combination gets a second chance before moving on.
    constexpr int kFullPassTries = 2;

    std::vector<std::string> ports = listPorts();
    // A raw TCP port keeps the server's line settings: trying others there cannot find a unit.
    std::erase_if(ports, [this](const std::string& port) {
        const std::optional<NetworkPortAddress> address = ParseNetworkPortName(port);
        const bool raw = address && address->protocol == ENetworkProtocol::kRawTcp;
        if (raw) {
            Status(port + ": " + kRawTcpLineFixed);
        }
        return raw;
    });
    const auto tryLine = [&](const std::string& port, const Line& line) {
        SerialLineSettings settings{port, line.baud, line.parity, line.stopBits, line.dataBits};
        return Attempt(settings);
    };
    bool found = false;
    for (const std::string& port : ports) {
        for (const Line& line : kQuickPass) {
            if (found || !keepSearching()) {
                break;
            }
            found = tryLine(port, line);
        }
    }
    for (const std::string& port : ports) {
        for (std::uint32_t baud : kFullPassBauds) {
            for (std::uint32_t dataBits : {7u, 8u}) {
                for (std::uint32_t stopBits : {kStopBitsOne, kStopBitsTwo}) {
                    for (std::uint32_t parity : kFullPassParities) {
                        for (int attempt = 0; attempt < kFullPassTries; ++attempt) {
                            if (found || !keepSearching()) {
                                break;
                            }
                            found = tryLine(port, Line{baud, dataBits, parity, stopBits});
                        }
                    }
                }
            }
        }
    }
    c_.sink.PostNotification(found ? kNotifyAutoDetectFound : kNotifyAutoDetectNotFound);
    return found;
}

}  // namespace corvane3
