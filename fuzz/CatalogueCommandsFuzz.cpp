// Arbitrary input typed for any row of the command catalogue, on any model, and arbitrary
// commands through the change log:
// - the frame a catalogue command is sent as is STX, the code padded to three characters, a
//   blank, a five-character parameter field, a blank, the data (no STX or ETX in it), ETX; the
//   reply list's echo line shows the data sent;
// - a change-log line is one line of seven tab-separated fields with no other control
//   character, its data field reads back to the data (or is "*****" for a new password), and
//   neither a password parameter nor a new password changes the line.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "core/link/CommandFrame.h"
#include "core/link/UnitState.h"
#include "core/poll/ChangeLog.h"
#include "core/poll/CommandCatalogue.h"

using namespace corvane3;

namespace {

constexpr std::string_view kNewPasswordCode = "C08";

void CheckFrame(const CatalogueRow& row, std::string_view input, std::int32_t model) {
    const MailboxCommand command = CatalogueCommand(row, input, CatalogueParameter(model));
    FUZZ_CHECK(command.code == row.code);
    FUZZ_CHECK(command.data.size() <= kCatalogueInputLimit);
    if (!row.TakesInput()) {
        FUZZ_CHECK(command.data.empty());
    }
    const std::string frame = BuildFrame(command.code, command.parameter, command.data, model);
    FUZZ_CHECK(frame.size() == kFrameHeadLength + command.data.size() + 1);
    FUZZ_CHECK(frame.front() == kStx && frame.back() == kEtx);
    FUZZ_CHECK(frame.substr(1, kCodeWidth) ==
               std::string(kCodeWidth - row.code.size(), ' ') + std::string(row.code));
    FUZZ_CHECK(frame[1 + kCodeWidth] == ' ' && frame[kFrameHeadLength - 1] == ' ');
    const std::string field = frame.substr(2 + kCodeWidth, kParameterFieldWidth);
    FUZZ_CHECK(field == (model == kFactoryAccessModel ? FactoryAccessField() : "00000"));
    const std::string sent = frame.substr(kFrameHeadLength, command.data.size());
    FUZZ_CHECK(sent == command.data);
    FUZZ_CHECK(sent.find_first_of(std::string{kStx, kEtx}) == std::string::npos);
    // What the input keeps: everything but the framing characters, in order.
    std::string kept;
    for (const char c : input.substr(0, kCatalogueInputLimit)) {
        if (c != kStx && c != kEtx) {
            kept += c;
        }
    }
    if (row.TakesInput()) {
        FUZZ_CHECK(command.data == kept);
    }
    FUZZ_CHECK(CatalogueEchoLine(row, input) == std::string(row.code) + " 00000 " + command.data);
}

// The data field of a change-log line back as the bytes it shows.
std::string Unescaped(std::string_view shown) {
    std::string bytes;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\\') {
            FUZZ_CHECK(i + 3 < shown.size() && shown[i + 1] == 'x');
            bytes += static_cast<char>(std::stoi(std::string(shown.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            bytes += shown[i];
        }
    }
    return bytes;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == '\t') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

void CheckChangeLog(std::string_view code, std::string_view data, std::uint32_t parameter,
                    std::int32_t model, std::uint32_t serial, std::time_t utc,
                    ChangeOutcome outcome) {
    const MailboxCommand command{.code = std::string(code),
                                 .data = std::string(data),
                                 .parameter = parameter,
                                 .replyLimit = 0};
    const std::string line = ChangeLogLine(utc, serial, model, command, outcome);
    FUZZ_CHECK(!line.empty() && line.back() == '\n');
    const std::string body = line.substr(0, line.size() - 1);
    for (const char c : body) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(c == '\t' || (byte >= 0x20 && byte != 0x7f));
    }
    const std::vector<std::string> fields = Fields(body);
    FUZZ_CHECK(fields.size() == 7);
    FUZZ_CHECK(Unescaped(fields[3]) == code);
    if (code == kNewPasswordCode && !data.empty()) {
        FUZZ_CHECK(fields[4] == "*****");
        MailboxCommand other = command;
        other.data = data == "12345" ? "54321" : "12345";
        FUZZ_CHECK(ChangeLogLine(utc, serial, model, other, outcome) == line);
    } else {
        FUZZ_CHECK(Unescaped(fields[4]) == data);
    }
    if (parameter != 0 && parameter != kFactoryAccessOption) {
        FUZZ_CHECK(fields[5] == "password");
        MailboxCommand other = command;
        other.parameter = parameter == 1 ? 2 : 1;
        FUZZ_CHECK(ChangeLogLine(utc, serial, model, other, outcome) == line);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    // The first bytes choose the row, the model, the parameter and the outcome; the rest is
    // the input.
    const auto catalogue = CommandCatalogue();
    const CatalogueRow& row = catalogue[data[0] % catalogue.size()];
    const std::int32_t models[] = {kModel7750,   kModelChronoBeam, kModel7730B,
                                   kModelTq9000, kModel7730A,      data[1]};
    const std::int32_t model = models[data[1] % std::size(models)];
    const std::string_view input(reinterpret_cast<const char*>(data) + 4, size - 4);
    CheckFrame(row, input, model);

    const std::uint32_t parameters[] = {0, kFactoryAccessOption, 1u + data[2] * 391u};
    const ChangeOutcome outcomes[] = {std::nullopt, EReplyVerdict::kAccepted,
                                      EReplyVerdict::kRefused, EReplyVerdict::kNotUnderstood,
                                      EReplyVerdict::kUnanswered};
    const std::uint32_t parameter = parameters[data[2] % std::size(parameters)];
    const ChangeOutcome outcome = outcomes[data[3] % std::size(outcomes)];
    // The code is the first three characters of the input, so that odd codes are tried too.
    const std::string_view code = input.substr(0, std::min<std::size_t>(3, input.size()));
    const std::time_t utc = static_cast<std::time_t>(data[2]) << 24 | data[3] << 8;
    CheckChangeLog(code, input, parameter, model, data[1] * 401u, utc, outcome);
    CheckChangeLog(kNewPasswordCode, input, parameter, model, 0, utc, outcome);
    CheckChangeLog(row.code, input, parameter, model, 99999, utc, outcome);
    return 0;
}
