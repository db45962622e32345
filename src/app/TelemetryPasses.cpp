#include "app/TelemetryPasses.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "app/FileCommandShared.h"

namespace corvane3 {

namespace {

#if defined(__SSE2__)
// StoredValue for two values at once, without branches; wider gets a set lane where a value did
// not fit. The summary converts every value of every record this way.
__m128d StoredInt32Pair(__m128d values, __m128d& wider) {
    const __m128d inRange =
        _mm_and_pd(_mm_cmpgt_pd(values, _mm_set1_pd(std::numeric_limits<std::int32_t>::min())),
                   _mm_cmple_pd(values, _mm_set1_pd(std::numeric_limits<std::int32_t>::max())));
    const __m128d whole = _mm_cvtepi32_pd(_mm_cvttpd_epi32(values));
    const __m128d fits = _mm_and_pd(inRange, _mm_cmpeq_pd(whole, values));
    wider = _mm_or_pd(wider, _mm_andnot_pd(fits, _mm_cmpord_pd(values, values)));  // NaN fits
    return _mm_or_pd(_mm_and_pd(fits, whole), _mm_andnot_pd(fits, values));
}

__m128d StoredFloatPair(__m128d values, __m128d& wider) {
    const __m128d largest = _mm_set1_pd(std::numeric_limits<double>::max());
    const __m128d noSign =
        _mm_castsi128_pd(_mm_set1_epi64x(std::numeric_limits<std::int64_t>::max()));
    const __m128d single = _mm_cvtps_pd(_mm_cvtpd_ps(values));
    // Finite, but infinite as a float.
    const __m128d tooLarge = _mm_and_pd(_mm_cmple_pd(_mm_and_pd(values, noSign), largest),
                                        _mm_cmpgt_pd(_mm_and_pd(single, noSign), largest));
    wider = _mm_or_pd(wider, tooLarge);
    return _mm_or_pd(_mm_and_pd(tooLarge, values), _mm_andnot_pd(tooLarge, single));
}

template <__m128d (*kStore)(__m128d, __m128d&)>
std::size_t StorePairs(double* values, std::size_t count, bool& widened) {
    __m128d wider = _mm_setzero_pd();
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        _mm_storeu_pd(values + i, kStore(_mm_loadu_pd(values + i), wider));
    }
    widened = widened || _mm_movemask_pd(wider) != 0;
    return i;
}
#endif

}  // namespace

void StoreValues(double* values, std::size_t count, EPlotStorage storage, bool& widened) {
    std::size_t done = 0;
#if defined(__SSE2__)
    if (storage == EPlotStorage::kInt32) {
        done = StorePairs<StoredInt32Pair>(values, count, widened);
    } else if (storage == EPlotStorage::kFloat) {
        done = StorePairs<StoredFloatPair>(values, count, widened);
    }
#endif
    if (storage == EPlotStorage::kDouble) {
        return;
    }
    for (std::size_t i = done; i < count; ++i) {
        values[i] = StoredValue(values[i], storage, widened);
    }
}

bool OpenStreamed(const std::string& path, const FileCommandOptions& options, StreamedFile& file,
                  std::ostream& err) {
    file.path = path;
    std::string reason;
    switch (file.file.Open(path, TelemetryIdentity{}, reason)) {
        case ETelemetryOpen::kCannotOpen:
            err << "corvane3: " << WithReason("Cannot Open File:\n" + path, reason) << "\n";
            return false;
        case ETelemetryOpen::kEmpty:
            err << "corvane3: Empty file:  " << path << "\n";
            return false;
        case ETelemetryOpen::kOpened:
            break;
    }
    const TelemetryFileLayout& layout = file.file.Layout();
    file.threads = options.threads > 0
                       ? options.threads
                       : std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
    const std::uint64_t pieceBytes =
        options.pieceBytes > 0
            ? options.pieceBytes
            : std::clamp(
                  kBytesInFlight / (std::uint64_t{1} + 2 * kPiecesAheadPerThread) / file.threads,
                  kSmallestPieceBytes, kPieceBytes);
    file.window = static_cast<std::size_t>(std::min(pieceBytes, kPieceBytes));
    if (!layout.HasData()) {
        return true;
    }
    file.pieces = file.file.SplitIntoPieces(pieceBytes);
    file.file.ForEachRecord({layout.dataBegin, layout.size}, file.window,
                            [&](const TelemetryLine& line) {
                                TelemetryRecordValues values;
                                if (ParseTelemetryRecord(line, layout.map, values)) {
                                    file.firstMjd = values.mjd;
                                }
                                file.hasRecord = true;
                                return false;
                            });
    if (!file.hasRecord) {
        return true;
    }
    file.channels = layout.channels;
    file.channels.push_back(kChannelSignal);
    file.channels.push_back(kChannelFlopBackground);
    std::sort(file.channels.begin(), file.channels.end());
    file.channels.erase(std::unique(file.channels.begin(), file.channels.end()),
                        file.channels.end());
    const CPlotData defaults;
    for (int number : file.channels) {
        file.storage.push_back(layout.oldFormat ? EPlotStorage::kDouble
                                                : defaults.ChannelStorage(number));
    }
    return true;
}

EPieceEnd PieceEnd(EPieceEnd lines, bool read, std::uint64_t bytesRead,
                   const TelemetryByteRange& range) {
    if (!read) {
        return EPieceEnd::kReadFailed;
    }
    return lines == EPieceEnd::kWhole && bytesRead < range.end - range.begin ? EPieceEnd::kCutShort
                                                                             : lines;
}

bool PassSucceeded(const StreamedFile& file, const PassResult& pass, std::ostream& err) {
    switch (pass.end) {
        case EPieceEnd::kWhole:
            return true;
        case EPieceEnd::kFieldTooLong:
            err << "corvane3: File Read Error\n"
                << file.path << ", line " << file.file.LineNumberAt(pass.badLine) << "\n";
            return false;
        case EPieceEnd::kReadFailed:
            err << "corvane3: File Read Error\n"
                << file.path << " (" << std::strerror(pass.readError != 0 ? pass.readError : EIO)
                << ")\n";
            return false;
        case EPieceEnd::kCutShort:
            err << "corvane3: " << file.path
                << " became shorter while it was read (records were gone); try again\n";
            return false;
    }
    return false;
}

void SayDamagedLines(const StreamedFile& file, const PassResult& pass, std::ostream& err) {
    if (pass.damage.lines > 0) {
        err << "corvane3: "
            << DamagedLinesText(file.path, pass.damage.lines,
                                file.file.LineNumberAt(pass.damage.firstOffset))
            << "\n";
    }
}

}  // namespace corvane3
