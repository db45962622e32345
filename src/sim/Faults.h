#pragma once
// Faults the simulated instrument can be told to show, and how they change a reply.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace corvane3::sim {

// Text written over a record at a column.
struct ColumnPatch {
    std::size_t column = 0;
    std::string text;

    bool operator==(const ColumnPatch&) const = default;
};

// A D*1 mode text the program rejects, and a unit-status code above its range.
ColumnPatch D1ModeTextCorruption();
ColumnPatch D1StatusCodeCorruption();

// A pause inside a reply, longer than the 100 ms gap after which the program stops reading.
inline constexpr std::chrono::milliseconds kReplyGap{150};

struct SimFaults {
    bool silent = false;                 // frames are received and logged, nothing is answered
    std::size_t truncateBy = 0;          // replies lose their last N characters
    bool gapInReplies = false;           // replies pause for kReplyGap halfway through
    std::string garbageBeforeReplies;    // written before every reply
    bool highBit = false;                // every byte of a reply gets its high bit set
    std::optional<ColumnPatch> d1Patch;  // written over every D*1 record
    bool refuseProtected = false;        // protected commands are refused whatever the password

    bool operator==(const SimFaults&) const = default;
};

// One piece of output and the pause before it.
struct OutputPiece {
    std::string bytes;
    std::chrono::milliseconds pauseBefore{0};
};

// The pieces that go out for reply to a frame with this code under these faults.
std::vector<OutputPiece> ApplyFaults(const SimFaults& faults, const std::string& code,
                                     std::string reply);

}  // namespace corvane3::sim
