// Arbitrary replies through the judgement of a command's reply and the readers of the settings
// dialogs' reply texts, under a decimal-comma locale when the machine has one:
// - a reply counts (accepted, refused, not understood) only when its end mark is its last
//   character; the judgement of a line read up to LF agrees with that of the same line followed
//   by ETX; a refusal and the refusal mark go together; a reply shorter than 4 has no mark;
// - event-log lines hold no CR, LF or TAB, there is one per CR, and no character is lost;
// - the event count is the number at its column;
// - a diagnostic list text has no STX in front and no CR, LF or ETX at its end, and is the text
//   with only those cut;
// - a gain DAC item is read as at most two hexadecimal digits;
// - LeadingInteger and LeadingNumber read what strtol and strtod read in the "C" locale.

#include <cctype>
#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/link/CommandFrame.h"
#include "core/settings/SettingsText.h"

using namespace corvane3;

namespace {

// Where a fetched log's event count starts (after the echo and "Event Count:").
constexpr std::size_t kEventCountColumn = 23;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool Same(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

void CheckJudgement(std::string_view reply) {
    for (const char mark : {kEtx, kLf}) {
        const EReplyVerdict verdict = JudgeReply(reply, mark);
        if (reply.empty() || reply.back() != mark) {
            FUZZ_CHECK(verdict == EReplyVerdict::kUnanswered);
        } else {
            FUZZ_CHECK(verdict != EReplyVerdict::kUnanswered);
        }
    }
    if (reply.size() < 4) {
        FUZZ_CHECK(!IsRefusal(reply));
    }
    if (!reply.empty() && reply.back() == kEtx) {
        FUZZ_CHECK((JudgeReply(reply) == EReplyVerdict::kRefused) == IsRefusal(reply));
    }
    if (!reply.empty() && reply.back() == kLf) {
        // A line read up to LF is judged as the same line with the ETX that follows it.
        const std::string framed = std::string(reply) + kEtx;
        FUZZ_CHECK(JudgeReply(reply, kLf) == JudgeReply(framed, kEtx));
    }
}

void CheckEventLog(std::string_view log) {
    const std::vector<std::string> lines = EventLogLines(log);
    const std::size_t firstLf = log.find('\n');
    const std::size_t lastCr = log.rfind('\r');
    if (firstLf == std::string_view::npos || lastCr == std::string_view::npos || lastCr < firstLf) {
        FUZZ_CHECK(lines.empty());
    } else {
        // The shown part: after the first LF up to the last CR.
        const std::string_view shown = log.substr(firstLf + 1, lastCr - firstLf);
        std::size_t crs = 0, lfs = 0, tabs = 0;
        for (const char c : shown) {
            crs += c == '\r';
            lfs += c == '\n';
            tabs += c == '\t';
        }
        FUZZ_CHECK(lines.size() == crs);
        std::size_t characters = 0;
        for (const std::string& line : lines) {
            characters += line.size();
        }
        FUZZ_CHECK(characters == shown.size() - crs - lfs + 5 * tabs);
    }
    for (const std::string& line : lines) {
        FUZZ_CHECK(line.find_first_of("\r\n\t") == std::string::npos);
    }

    const int count = EventCount(log);
    if (log.size() <= kEventCountColumn) {
        FUZZ_CHECK(count == 0);
    } else {
        const std::string_view rest = log.substr(kEventCountColumn);
        std::size_t digits = 0;
        while (digits < rest.size() && digits < 9 && IsDigit(rest[digits])) {
            ++digits;
        }
        if (digits > 0 && (digits == rest.size() || !IsDigit(rest[digits]))) {
            FUZZ_CHECK(count == std::atoi(std::string(rest.substr(0, digits)).c_str()));
        }
        if (!rest.empty() && !IsDigit(rest[0]) && rest[0] != '+' && rest[0] != '-' &&
            !std::isspace(static_cast<unsigned char>(rest[0]))) {
            FUZZ_CHECK(count == 0);
        }
    }
}

void CheckDiagnosticText(std::string_view text) {
    const std::string shown = DiagnosticListText(std::string(text));
    std::string_view expected = text;
    if (!expected.empty() && expected.front() == kStx) {
        expected.remove_prefix(1);
    }
    FUZZ_CHECK(expected.starts_with(shown));
    for (const char c : expected.substr(shown.size())) {
        FUZZ_CHECK(c == '\r' || c == '\n' || c == kEtx);
    }
    if (!shown.empty()) {
        FUZZ_CHECK(shown.back() != '\r' && shown.back() != '\n' && shown.back() != kEtx);
    }
}

void CheckGainDac(std::string_view item) {
    // The items are the list's own ("01h" ... "80h" and two names); a text that starts with a
    // hexadecimal digit is read as at most two of them.
    const int value = GainDacValue(item);
    if (!item.empty() && std::isxdigit(static_cast<unsigned char>(item[0]))) {
        FUZZ_CHECK(value >= 0 && value <= 0xFF);
    }
    // A two-digit item ending in 'h' is that hexadecimal number.
    if (item.size() == 3 && item[2] == 'h' && std::isxdigit(static_cast<unsigned char>(item[0])) &&
        std::isxdigit(static_cast<unsigned char>(item[1]))) {
        FUZZ_CHECK(value == std::stoi(std::string(item.substr(0, 2)), nullptr, 16));
    }
}

void CheckLeadingNumbers(std::string_view text, locale_t cLocale) {
    // What an edit box is read as: its first characters, as the C library reads them in "C".
    const std::string cut(text.substr(0, kNumberInputLimit));
    FUZZ_CHECK(LeadingInteger(text) == strtol_l(cut.c_str(), nullptr, 10, cLocale));
    FUZZ_CHECK(Same(LeadingNumber(text), strtod_l(cut.c_str(), nullptr, cLocale)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A user whose language writes decimal commas; the readers must not follow it.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckJudgement(text);
    CheckEventLog(text);
    CheckDiagnosticText(text);
    CheckGainDac(text);
    CheckLeadingNumbers(text, cLocale);
    return 0;
}
