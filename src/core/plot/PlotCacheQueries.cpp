// CPlotCache: the queries (values, ranges, frames by record and by time, statistics, the decay
// fit, paired blocks), from the summaries and leaves and the fewest decoded blocks.

#include "core/plot/PlotCache.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvane3 {

namespace {
// A frame decodes its ends exactly up to this many blocks; beyond, inner borders snap to leaves.
constexpr std::int64_t kExactFrameBlocks = 4;
constexpr std::int64_t kLeavesPerSnappedColumn = 2;
}  // namespace

template <typename Visit>
void CPlotCache::ForEachValue(int channel, std::int64_t first, std::int64_t end,
                              Visit&& visit) const {
    const std::int64_t blockRecords = options_.blockRecords;
    while (first < end) {
        const std::int64_t block = first / blockRecords;
        const std::int64_t blockEnd = std::min(end, (block + 1) * blockRecords);
        const std::vector<double>* values = Block(channel, block);
        for (std::int64_t i = first; i < blockEnd; ++i) {
            visit(i, values != nullptr
                         ? (*values)[static_cast<std::size_t>(i - block * blockRecords)]
                         : std::numeric_limits<double>::quiet_NaN());
        }
        first = blockEnd;
    }
}


void CPlotCache::PrepareChannel(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(channels_.size()) || records_ == 0) {
        return;
    }
    const CSumPyramid<ValueRange>& leaves = Leaves(channel);
    leaves.Sum(0, leaves.Size());  // builds the levels above the leaves
    // The partial leaves at the runs' ends, in file order: the block holding a step back serves
    // the end of one run and the start of the next, decoded once.
    for (std::size_t run = 0; run + 1 < runs_.size(); ++run) {
        EndsOfRun(channel, run);
    }
}

bool CPlotCache::Values(int channel, std::int64_t first, std::int64_t end, double* out) const {
    if (channel < 0 || channel >= static_cast<int>(channels_.size()) || first < 0 ||
        end > records_ || first > end) {
        return false;
    }
    ForEachValue(channel, first, end, [&](std::int64_t i, double v) { out[i - first] = v; });
    return true;
}

ValueRange CPlotCache::Range(int channel, std::int64_t first, std::int64_t end) const {
    ValueRange range;
    if (channel < 0 || channel >= static_cast<int>(channels_.size())) {
        return range;
    }
    first = std::max<std::int64_t>(first, 0);
    end = std::min(end, records_);
    if (first >= end) {
        return range;
    }
    const std::int64_t leafRecords = options_.leafRecords;
    const std::int64_t firstLeaf = CeilDiv(first, leafRecords);
    const std::int64_t endLeaf = end / leafRecords;
    auto add = [&range](std::int64_t, double v) { range.Add(v); };
    if (firstLeaf >= endLeaf) {
        ForEachValue(channel, first, end, add);
        return range;
    }
    ForEachValue(channel, first, firstLeaf * leafRecords, add);
    range.Add(Leaves(channel).Sum(firstLeaf, endLeaf));
    ForEachValue(channel, endLeaf * leafRecords, end, add);
    return range;
}

std::vector<ValueRange> CPlotCache::FrameColumns(int channel, std::int64_t first, std::int64_t end,
                                                 int columns) const {
    std::vector<ValueRange> result(static_cast<std::size_t>(std::max(columns, 0)));
    first = std::max<std::int64_t>(first, 0);
    end = std::min(end, records_);
    if (columns <= 0 || first >= end) {
        return result;
    }
    const std::int64_t span = end - first;
    const std::int64_t leafRecords = options_.leafRecords;
    const bool snap =
        span > kExactFrameBlocks * options_.blockRecords && span / columns >= leafRecords;
    std::int64_t from = first;
    for (int c = 0; c < columns; ++c) {
        std::int64_t to = end;
        if (c + 1 < columns) {
            to = first + static_cast<std::int64_t>(static_cast<__int128>(span) * (c + 1) / columns);
            if (snap) {
                to = std::clamp((to + leafRecords / 2) / leafRecords * leafRecords, from, end);
            }
        }
        result[static_cast<std::size_t>(c)] = Range(channel, from, to);
        from = to;
    }
    return result;
}

std::vector<std::int64_t> CPlotCache::MjdSteps() const {
    std::vector<std::int64_t> steps;
    for (std::size_t r = 1; r < runs_.size(); ++r) {
        steps.push_back(runs_[r].first);
    }
    return steps;
}

std::int64_t CPlotCache::RunEnd(std::size_t run) const {
    return run + 1 < runs_.size() ? runs_[run + 1].first : records_;
}

double CPlotCache::MjdAt(std::int64_t record) const {
    const std::int64_t block = record / options_.blockRecords;
    const std::vector<double>* values = Block(timeIndex_, block);
    return values != nullptr
               ? (*values)[static_cast<std::size_t>(record - block * options_.blockRecords)]
               : std::numeric_limits<double>::quiet_NaN();
}

std::int64_t CPlotCache::LowerBoundIn(std::int64_t first, std::int64_t end, double mjd) const {
    // The whole blocks in the range first: the first whose latest MJD reaches mjd. The answer
    // then lies in it, or before it when it is the first whole block.
    const std::int64_t blockRecords = options_.blockRecords;
    const auto& blocks = summaries_[static_cast<std::size_t>(timeIndex_)];
    const std::int64_t wholeFirst = CeilDiv(first, blockRecords);
    const std::int64_t wholeEnd = std::max(wholeFirst, end / blockRecords);
    std::int64_t low = wholeFirst;
    std::int64_t high = wholeEnd;
    while (low < high) {
        const std::int64_t mid = low + (high - low) / 2;
        if (blocks.ItemAt(mid).range.max < mjd) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    std::int64_t from = low == wholeFirst ? first : low * blockRecords;
    std::int64_t to = low < wholeEnd ? std::min(end, (low + 1) * blockRecords) : end;
    // At most two blocks left: halved record by record.
    while (from < to) {
        const std::int64_t mid = from + (to - from) / 2;
        if (MjdAt(mid) < mjd) {
            from = mid + 1;
        } else {
            to = mid;
        }
    }
    return from;
}

std::int64_t CPlotCache::LowerBoundInRun(std::size_t run, std::int64_t first, std::int64_t end,
                                         double mjd) const {
    // Edges outside the run's times need no search.
    const ValueRange& times = runs_[run].mjd;
    return mjd <= times.min ? first : mjd > times.max ? end : LowerBoundIn(first, end, mjd);
}

bool CPlotCache::RunInFrame(const std::vector<double>& edges, std::size_t run) const {
    const ValueRange& times = runs_[run].mjd;
    return !times.Empty() && times.max >= edges.front() && times.min < edges.back();
}

CPlotCache::RecordSpan CPlotCache::RunSpanInFrame(const std::vector<double>& edges,
                                                  std::size_t run) const {
    const std::int64_t runFirst = runs_[run].first;
    const std::int64_t runEnd = RunEnd(run);
    const std::int64_t first = LowerBoundInRun(run, runFirst, runEnd, edges.front());
    return {first, std::max(first, LowerBoundInRun(run, runFirst, runEnd, edges.back()))};
}

const std::vector<std::int64_t>& CPlotCache::FrameBorders(const std::vector<double>& edges,
                                                          std::size_t run) const {
    std::vector<std::int64_t>& borders = frameBorders_[run];
    if (!borders.empty()) {
        return borders;
    }
    const std::int64_t runFirst = runs_[run].first;
    const std::int64_t runEnd = RunEnd(run);
    const ValueRange& runTimes = runs_[run].mjd;
    const auto lowerBound = [&](std::int64_t from, std::int64_t to, double edge) {
        return LowerBoundInRun(run, from, to, edge);
    };
    const RecordSpan span = RunSpanInFrame(edges, run);
    const std::int64_t first = span.first;
    const std::int64_t end = span.end;
    // Leaf borders only where every column spans a few leaves: finer, they would leave columns
    // without records. Only the columns the run's times reach count.
    const auto inRun = [&](double edge) { return edge > runTimes.min && edge <= runTimes.max; };
    const auto columns = 1 + std::count_if(edges.begin() + 1, edges.end() - 1, inRun);
    const std::int64_t leafRecords = options_.leafRecords;
    const bool exact =
        frameExact_ || end - first < kLeavesPerSnappedColumn * leafRecords * columns;
    const CSumPyramid<ValueRange>& times = Leaves(timeIndex_);
    // The leaves wholly in the run (the last, shorter leaf of the records too); their latest
    // MJDs do not decrease.
    const std::int64_t leafFirst = CeilDiv(runFirst, leafRecords);
    const std::int64_t leafEnd = std::max(
        leafFirst, runEnd == records_ ? times.Size() : runEnd / leafRecords);
    borders.reserve(edges.size());
    borders.push_back(first);
    std::int64_t from = first;
    std::int64_t low = leafFirst;  // the leaf search goes on from the last border
    for (std::size_t c = 1; c + 1 < edges.size(); ++c) {
        const double edge = edges[c];
        std::int64_t to = 0;
        if (exact || edge <= runTimes.min || edge > runTimes.max) {
            to = lowerBound(from, end, edge);
        } else {
            // The first leaf whose latest MJD reaches the edge holds the border.
            std::int64_t high = leafEnd;
            while (low < high) {
                const std::int64_t mid = low + (high - low) / 2;
                if (times.ItemAt(mid).max < edge) {
                    low = mid + 1;
                } else {
                    high = mid;
                }
            }
            to = low * leafRecords;
        }
        to = std::clamp(to, from, end);
        borders.push_back(to);
        from = to;
    }
    borders.push_back(end);
    return borders;
}

const CPlotCache::RunEnds& CPlotCache::EndsOfRun(int channel, std::size_t run) const {
    runEnds_.resize(runs_.size());
    std::vector<RunEnds>& ends = runEnds_[run];
    ends.resize(channels_.size());
    RunEnds& known = ends[static_cast<std::size_t>(channel)];
    if (!known.known) {
        const std::int64_t leafRecords = options_.leafRecords;
        const std::int64_t runFirst = runs_[run].first;
        const std::int64_t runEnd = RunEnd(run);
        known.headEnd = std::min(runEnd, CeilDiv(runFirst, leafRecords) * leafRecords);
        known.tailFirst = std::max(known.headEnd, runEnd / leafRecords * leafRecords);
        known.head = Range(channel, runFirst, known.headEnd);
        known.tail = Range(channel, known.tailFirst, runEnd);
        known.known = true;
    }
    return known;
}

ValueRange CPlotCache::RangeInRun(int channel, std::size_t run, std::int64_t first,
                                  std::int64_t end) const {
    // The leaves the run starts and ends in are partly another run's. The last run is still
    // growing: its ends are not kept (its end lies in the records held in memory anyway).
    if (run + 1 == runs_.size()) {
        return Range(channel, first, end);
    }
    const RunEnds& known = EndsOfRun(channel, run);
    const std::int64_t runFirst = runs_[run].first;
    const std::int64_t runEnd = RunEnd(run);
    const bool head = first == runFirst && end >= known.headEnd && runFirst < known.headEnd;
    const bool tail = end == runEnd && first <= known.tailFirst && known.tailFirst < runEnd;
    if (!head && !tail) {
        return Range(channel, first, end);
    }
    ValueRange range;
    if (head) {
        range.Add(known.head);
        first = known.headEnd;
    }
    if (tail) {
        range.Add(known.tail);
        end = known.tailFirst;
    }
    range.Add(Range(channel, first, std::max(first, end)));
    return range;
}

std::vector<ValueRange> CPlotCache::FrameColumnsMjd(int channel, const std::vector<double>& edges,
                                                    std::vector<RecordSpan>* spans) const {
    std::vector<ValueRange> result(edges.size() > 1 ? edges.size() - 1 : 0);
    if (spans != nullptr) {
        spans->assign(result.size(), {});
    }
    if (timeIndex_ < 0 || result.empty()) {
        return result;
    }
    // Panes side by side have the same edges: their borders are searched once.
    if (edges != frameEdges_ || frameRecords_ != records_ || frameBorders_.size() != runs_.size()) {
        frameEdges_ = edges;
        frameRecords_ = records_;
        frameBorders_.assign(runs_.size(), {});
        // Exact over a few blocks of records in all, whatever the runs they are in: a frame over
        // many short runs would otherwise decode most of its blocks.
        std::int64_t inFrame = 0;
        for (std::size_t run = 0; run < runs_.size(); ++run) {
            if (RunInFrame(edges, run)) {
                const RecordSpan span = RunSpanInFrame(edges, run);
                inFrame += span.end - span.first;
            }
        }
        frameExact_ = inFrame <= kExactFrameBlocks * options_.blockRecords;
    }
    std::vector<RecordSpan> found(result.size());
    for (std::size_t run = 0; run < runs_.size(); ++run) {
        // Only the runs whose times reach into the frame are searched, and only the columns
        // their times reach are looked at.
        if (!RunInFrame(edges, run)) {
            continue;
        }
        const ValueRange& times = runs_[run].mjd;
        const std::vector<std::int64_t>& borders = FrameBorders(edges, run);
        const auto column = [&](double mjd) {
            const auto at = std::upper_bound(edges.begin(), edges.end(), mjd) - edges.begin();
            return static_cast<std::size_t>(std::max<std::ptrdiff_t>(at - 1, 0));
        };
        const std::size_t columnEnd = std::min(result.size(), column(times.max) + 1);
        for (std::size_t c = column(times.min); c < columnEnd; ++c) {
            if (borders[c] == borders[c + 1]) {
                continue;
            }
            result[c].Add(RangeInRun(channel, run, borders[c], borders[c + 1]));
            // Runs come in file order: the first piece starts the span, the last ends it.
            RecordSpan& span = found[c];
            if (span.first == span.end) {
                span.first = borders[c];
            }
            span.end = borders[c + 1];
        }
    }
    if (spans != nullptr) {
        *spans = std::move(found);
    }
    return result;
}

ChannelStatistics CPlotCache::Statistics(int channel, std::int64_t first, std::int64_t end) const {
    BlockSummary summary;
    if (channel >= 0 && channel < static_cast<int>(channels_.size())) {
        first = std::max<std::int64_t>(first, 0);
        end = std::min(end, records_);
        const std::int64_t blockRecords = options_.blockRecords;
        const std::int64_t firstBlock = CeilDiv(first, blockRecords);
        const std::int64_t endBlock = end / blockRecords;
        auto add = [&summary](std::int64_t, double v) { summary.Add(v); };
        if (firstBlock >= endBlock) {
            ForEachValue(channel, first, end, add);
        } else {
            ForEachValue(channel, first, firstBlock * blockRecords, add);
            summary.Add(summaries_[static_cast<std::size_t>(channel)].Sum(firstBlock, endBlock));
            ForEachValue(channel, endBlock * blockRecords, end, add);
        }
    }
    return summary.Statistics();
}

std::int64_t CPlotCache::LowerBoundMjd(double mjd) const {
    if (timeIndex_ < 0) {
        return -1;
    }
    // Every run before the first that reaches mjd lies wholly below it.
    for (std::size_t run = 0; run < runs_.size(); ++run) {
        if (runs_[run].mjd.max >= mjd) {
            return LowerBoundIn(runs_[run].first, RunEnd(run), mjd);
        }
    }
    return records_;
}

DecayFit CPlotCache::FitDecay(std::int64_t first, std::int64_t last) const {
    DecaySums sums;
    first = std::max<std::int64_t>(first, 0);
    const std::int64_t end = std::min(last + 1, records_);
    if (decayIndex_ >= 0 && first < end) {
        const std::int64_t blockRecords = options_.blockRecords;
        auto ragged = [&](std::int64_t from, std::int64_t to) {
            if (from >= to) {
                return;
            }
            // Both columns of one block: MJD first, then the signal against it.
            std::vector<double> mjd(static_cast<std::size_t>(to - from));
            ForEachValue(timeIndex_, from, to, [&](std::int64_t i, double v) {
                mjd[static_cast<std::size_t>(i - from)] = v;
            });
            ForEachValue(decayIndex_, from, to, [&](std::int64_t i, double v) {
                sums.Add(mjd[static_cast<std::size_t>(i - from)] - firstMjd_, v);
            });
        };
        const std::int64_t firstBlock = CeilDiv(first, blockRecords);
        const std::int64_t endBlock = end / blockRecords;
        if (firstBlock >= endBlock) {
            ragged(first, end);
        } else {
            ragged(first, firstBlock * blockRecords);
            sums.Add(decay_.Sum(firstBlock, endBlock));
            ragged(endBlock * blockRecords, end);
        }
    }
    return sums.Fit();
}

std::vector<CPlotCache::PairedBlock> CPlotCache::PairedBlocks(int channel) const {
    std::vector<PairedBlock> blocks;
    if (timeIndex_ < 0 || channel < 0 || channel >= static_cast<int>(channels_.size())) {
        return blocks;
    }
    const auto& times = summaries_[static_cast<std::size_t>(timeIndex_)];
    const auto& values = summaries_[static_cast<std::size_t>(channel)];
    blocks.resize(static_cast<std::size_t>(BlockCount()));
    for (std::int64_t b = 0; b < BlockCount(); ++b) {
        PairedBlock& paired = blocks[static_cast<std::size_t>(b)];
        const std::int64_t length = BlockLength(b);
        const auto complete = static_cast<std::uint64_t>(length);
        if (times.ItemAt(b).count == 0 || values.ItemAt(b).count == 0) {
            continue;  // nothing to pair: a unit without the reading costs no decoding
        }
        if (times.ItemAt(b).count == complete && values.ItemAt(b).count == complete) {
            paired = {times.ItemAt(b), values.ItemAt(b)};
            continue;
        }
        const std::int64_t first = b * options_.blockRecords;
        std::vector<double> mjd(static_cast<std::size_t>(length));
        ForEachValue(timeIndex_, first, first + length, [&](std::int64_t i, double v) {
            mjd[static_cast<std::size_t>(i - first)] = v;
        });
        ForEachValue(channel, first, first + length, [&](std::int64_t i, double v) {
            const double when = mjd[static_cast<std::size_t>(i - first)];
            if (!std::isnan(when) && !std::isnan(v)) {
                paired.mjd.Add(when);
                paired.value.Add(v);
            }
        });
    }
    return blocks;
}


}  // namespace corvane3
