// std::stable_sort for the points of a spectrum, in pieces between which a
// stop is polled for: sorting millions of points in one piece would keep a
// Ctrl-C waiting for seconds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "core/cancellation.hpp"

namespace vorlane {

// Elements std::stable_sort orders at once before the runs are merged:
// some milliseconds of work.
inline constexpr std::size_t SORT_RUN = std::size_t{1} << 15;

// std::merge's stable merge of two sorted ranges appended to `out`, polling
// every POINTS_PER_POLL elements; false once stopped.
template <class T, class Less>
bool merge_polling(std::span<const T> a, std::span<const T> b, std::vector<T>& out, Less less) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (poll_stop_at_point(i + j)) return false;
        out.push_back(less(b[j], a[i]) ? b[j++] : a[i++]);
    }
    out.insert(out.end(), a.begin() + static_cast<std::ptrdiff_t>(i), a.end());
    out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(j), b.end());
    return true;
}

// The order std::stable_sort gives, reached in sorted runs of SORT_RUN and
// pairwise merges of runs that poll for a stop. Stopped, `values` holds its
// elements in some order.
template <class T, class Less>
void stable_sort_polling(std::vector<T>& values, Less less) {
    const std::size_t n = values.size();
    for (std::size_t first = 0; first < n; first += SORT_RUN) {
        if (poll_stop()) return;
        std::stable_sort(values.begin() + static_cast<std::ptrdiff_t>(first),
                         values.begin() + static_cast<std::ptrdiff_t>(std::min(n, first + SORT_RUN)), less);
    }
    std::vector<T> merged;
    for (std::size_t width = SORT_RUN; width < n; width *= 2) {
        merged.clear();
        merged.reserve(n);
        const std::span<const T> all(values);
        for (std::size_t first = 0; first < n; first += 2 * width) {
            const std::size_t middle = std::min(n, first + width);
            const std::size_t end = std::min(n, first + 2 * width);
            if (!merge_polling(all.subspan(first, middle - first), all.subspan(middle, end - middle), merged, less)) {
                return;
            }
        }
        values.swap(merged);
    }
}

}  // namespace vorlane
