#pragma once
// The catalogue of raw instrument commands the user can pick and send by hand, the mailbox
// command a pick becomes, and the splitting of the instrument's reply into list lines.
// Everything here is plain data and pure functions, safe on any thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/poll/CommandMailbox.h"

namespace corvane3 {

// One catalogue row. Rows with a non-zero input length take an input text; the input picture
// only describes the expected input and is never enforced.
struct CatalogueRow {
    std::string_view code;         // three characters, written into the frame
    std::string_view name;         // shown in the command list
    std::string_view description;  // shown beside the list; may hold line breaks
    int inputLength = 0;           // nominal input length; 0 for rows without input
    std::string_view inputPicture;
    std::string_view defaultInput;  // put into the input box when the row is selected

    constexpr bool TakesInput() const { return inputLength != 0; }
};

inline constexpr std::size_t kCatalogueRowCount = 77;

// The rows in the order the command list shows them. The table lives for the whole run.
std::span<const CatalogueRow> CommandCatalogue();

// Characters of the input box that are read and sent; the rest is ignored.
inline constexpr std::size_t kCatalogueInputLimit = 255;

// The parameter a catalogue command is sent with: the Factory access option for the model that
// understands it, 0 for every other model. Catalogue commands never ask for the password.
std::uint32_t CatalogueParameter(std::int32_t modelCode);

// The mailbox command for row: its code, the input (cut to kCatalogueInputLimit, then without
// the frame's STX and ETX, which would cut the frame short) for a row that takes input or the
// empty text, parameter, the catalogue reply limit and the catalogue reply notification.
MailboxCommand CatalogueCommand(const CatalogueRow& row, std::string_view input,
                                std::uint32_t parameter);

// The line the reply list shows for a sent command: "code 00000 input" (the input as it is
// sent) for a row that takes input, "code 00000 " for one that does not. The parameter field is
// always shown as zeros.
std::string CatalogueEchoLine(const CatalogueRow& row, std::string_view input);

// Places row's command in the mailbox for a unit of modelCode. False, with nothing queued, while
// another command is pending.
bool SendCatalogueCommand(CCommandMailbox& mailbox, const CatalogueRow& row, std::string_view input,
                          std::int32_t modelCode);

// A reply line is handed on unchanged once it holds this many characters, and the next
// character starts a new line.
inline constexpr std::size_t kReplyLineLimit = 255;

// Splits a reply (as read into the Response buffer, starting with STX) into list lines. At most
// replyLimit characters are looked at. STX and LF are skipped; CR ends a line; NUL or ETX ends
// the line and the reply; the end of the text or of the limit ends the reply as well, keeping a
// line in progress. A line that holds the Factory access field at characters 4 to 8 (the echo
// of a frame sent with it) shows "00000" there instead. An empty reply gives no lines.
std::vector<std::string> ReplyLines(std::string_view response, std::size_t replyLimit);

}  // namespace corvane3
