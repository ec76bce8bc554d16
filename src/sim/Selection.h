#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// One stimulation cycle's N-of-M choice: marks (1) the nOn strongest of the n channel values and
// clears every other mark. Each pass looks strictly below the previous pick and keeps the lowest
// index among equal values, so of tied channels only the lowest-indexed can ever be marked.
// `selected` carries across passes and cycles: a pass that finds no candidate marks the last
// pick again, and stops the search, since every later pass would do the same.
inline void MarkStrongest(const double* values, uint32_t n, uint32_t nOn, int32_t& selected,
                          std::vector<uint32_t>& marks) {
    std::fill(marks.begin(), marks.end(), 0);
    double upper = 1e30;
    for (uint32_t pass = 0; pass < nOn; pass++) {
        double best = -1e30;
        for (uint32_t ch = 0; ch < n; ch++) {
            // Selects rather than branches: which channel wins is not predictable.
            const double v = values[ch];
            const bool better = (v > best) & (v < upper);
            best = better ? v : best;
            selected = better ? static_cast<int32_t>(ch) : selected;
        }
        upper = best;
        marks[selected] = 1;
        if (best == -1e30) {
            break;
        }
    }
}
