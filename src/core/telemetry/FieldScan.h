#pragma once
// The fields of a record line found 64 bytes at a time: where each comma is and which fields hold
// a letter that may belong to an exponent ('e', 'E', 'p' or 'P'), without converting anything.
// For checking a file through quickly: a byte-by-byte walk costs several instructions per byte.
//
//   ForEachField(line.begin, line.end, columns, [&](std::size_t k, const char* begin,
//                                                   const char* end, bool exponentLetter) {
//       return end - begin <= kMaxTelemetryFieldCharacters;
//   });

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace corvane3 {

// Bytes looked at in one step.
inline constexpr std::size_t kFieldScanBlock = 64;

// For bytes [0, count) at p (count at most kFieldScanBlock): bit i of commas set for a comma at
// p[i], bit i of letters for 'e', 'E', 'p' or 'P' there.
void FieldScanMasks(const char* p, std::size_t count, std::uint64_t& commas,
                    std::uint64_t& letters);

// FieldScanMasks for the block at block, which ends at end or after kFieldScanBlock bytes; the
// bytes it holds.
inline std::size_t ScanBlock(const char* block, const char* end, std::uint64_t& commas,
                             std::uint64_t& letters) {
    const auto count = static_cast<std::size_t>(
        end - block < static_cast<std::ptrdiff_t>(kFieldScanBlock) ? end - block : kFieldScanBlock);
    FieldScanMasks(block, count, commas, letters);
    return count;
}

// Calls visit(k, begin, end, exponentLetter) for fields k = 0, 1, ... of [begin, end), at most
// maxFields of them, until visit returns false. A field ends at a comma or at end. False when
// visit returned false.
template <typename Visit>
bool ForEachField(const char* begin, const char* end, std::size_t maxFields, Visit&& visit) {
    std::size_t k = 0;
    const char* fieldBegin = begin;
    bool letter = false;  // in the part of the field before the current block
    for (const char* block = begin; block < end && k < maxFields; block += kFieldScanBlock) {
        std::uint64_t commas = 0;
        std::uint64_t letters = 0;
        ScanBlock(block, end, commas, letters);
        for (; commas != 0 && k < maxFields; commas &= commas - 1) {
            const int at = std::countr_zero(commas);
            // letters holds only this field's letters of the block: those before it are cleared.
            const std::uint64_t before = (std::uint64_t{1} << at) - 1;
            if (!visit(k, fieldBegin, block + at, letter || (letters & before) != 0)) {
                return false;
            }
            ++k;
            fieldBegin = block + at + 1;
            letter = false;
            letters &= ~before << 1;
        }
        letter = letter || letters != 0;
    }
    if (k < maxFields) {
        return visit(k, fieldBegin, end, letter);
    }
    return true;
}

// True when [begin, end) holds at most maxFields fields, each at most maxLength bytes long,
// and no field k for which letterMatters(k) holds a letter ForEachField tells of: then visiting
// each field would find nothing. False when that is not sure; the line is then visited field by
// field. Looks at the line 64 bytes at a time, with no step per field.
template <typename LetterMatters>
bool FieldsShortAndLetterFree(const char* begin, const char* end, std::size_t maxFields,
                              std::size_t maxLength, LetterMatters&& letterMatters) {
    std::size_t fields = 0;  // commas before the block
    std::size_t run = 0;     // bytes of the field the block starts in, before the block
    for (const char* block = begin; block < end; block += kFieldScanBlock) {
        std::uint64_t commas = 0;
        std::uint64_t letters = 0;
        const std::size_t count = ScanBlock(block, end, commas, letters);
        const std::uint64_t inBlock =
            count == kFieldScanBlock ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
        const auto first = static_cast<std::size_t>(commas != 0 ? std::countr_zero(commas) : count);
        if (run + first > maxLength) {
            return false;
        }
        // Bit i stays set where the maxLength + 1 bytes from i hold no comma.
        std::uint64_t longField = ~commas & inBlock;
        for (std::size_t covered = 1; covered <= maxLength;) {
            const std::size_t step = std::min(covered, maxLength + 1 - covered);
            longField &= longField >> step;
            covered += step;
        }
        if (longField != 0) {
            return false;
        }
        for (; letters != 0; letters &= letters - 1) {
            const std::uint64_t before = (std::uint64_t{1} << std::countr_zero(letters)) - 1;
            const std::size_t k = fields + static_cast<std::size_t>(std::popcount(commas & before));
            if (k < maxFields && letterMatters(k)) {
                return false;
            }
        }
        fields += static_cast<std::size_t>(std::popcount(commas));
        if (fields >= maxFields) {
            return false;
        }
        run = commas != 0 ? count - 1 - static_cast<std::size_t>(63 - std::countl_zero(commas))
                          : run + count;
    }
    return true;
}

}  // namespace corvane3
