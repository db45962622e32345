#pragma once
// The lowest and highest of a set of values, absent values (NaN) left out.

#include <limits>

namespace corvane3 {

struct ValueRange {
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    bool Empty() const { return min > max; }
    void Add(double value) {
        // NaN (an absent value) fails both comparisons and is skipped.
        if (value < min) {
            min = value;
        }
        if (value > max) {
            max = value;
        }
    }
    void Add(const ValueRange& other) {
        if (other.min < min) {
            min = other.min;
        }
        if (other.max > max) {
            max = other.max;
        }
    }
};

}  // namespace corvane3
