#pragma once
// Partial sums over a growing sequence of items, with the levels above them (level k: 2^k items
// each), rebuilt from the first changed item when queried: the sum over any range of items costs
// O(log N). T has Add(const T&); a default T is the empty sum.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane3 {

template <typename T>
class CSumPyramid {
  public:
    std::int64_t Size() const { return static_cast<std::int64_t>(levels_[0].size()); }

    // Item i for changing it; the sequence grows to i + 1 items when shorter.
    T& Item(std::int64_t i) {
        auto& items = levels_[0];
        if (static_cast<std::size_t>(i) >= items.size()) {
            items.resize(static_cast<std::size_t>(i) + 1);
        }
        dirtyFrom_ = std::min(dirtyFrom_, i);
        return items[static_cast<std::size_t>(i)];
    }

    const T& ItemAt(std::int64_t i) const { return levels_[0][static_cast<std::size_t>(i)]; }

    void Assign(std::vector<T> items) {
        levels_.assign(1, std::move(items));
        dirtyFrom_ = 0;
    }

    // The sum of items [first, end).
    T Sum(std::int64_t first, std::int64_t end) const {
        Rebuild();
        T sum{};
        std::size_t k = 0;
        while (first < end) {
            const auto& level = levels_[k];
            if (first & 1) {
                sum.Add(level[static_cast<std::size_t>(first++)]);
            }
            if (end & 1) {
                sum.Add(level[static_cast<std::size_t>(--end)]);
            }
            first /= 2;
            end /= 2;
            ++k;
        }
        return sum;
    }

    std::size_t MemoryBytes() const {
        std::size_t bytes = 0;
        for (const auto& level : levels_) {
            bytes += level.capacity() * sizeof(T);
        }
        return bytes;
    }

  private:
    void Rebuild() const {
        const auto size0 = static_cast<std::int64_t>(levels_[0].size());
        if (dirtyFrom_ >= size0) {
            return;
        }
        std::int64_t from = dirtyFrom_;
        for (std::size_t k = 1; levels_[k - 1].size() > 1; ++k) {
            if (levels_.size() <= k) {
                levels_.emplace_back();
            }
            const auto& below = levels_[k - 1];
            auto& level = levels_[k];
            level.resize((below.size() + 1) / 2);
            from /= 2;
            for (std::size_t j = static_cast<std::size_t>(from); j < level.size(); ++j) {
                T sum = below[2 * j];
                if (2 * j + 1 < below.size()) {
                    sum.Add(below[2 * j + 1]);
                }
                level[j] = sum;
            }
        }
        dirtyFrom_ = size0;
    }

    mutable std::vector<std::vector<T>> levels_{1};
    mutable std::int64_t dirtyFrom_ = 0;
};

}  // namespace corvane3
