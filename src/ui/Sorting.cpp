#include "ui/Sorting.h"

#include "assets/AssetsParser.h"

#include <string>
#include <utility>
#include <vector>

namespace kestrel::ui {

namespace {

// Quicksort with the middle element as pivot and crossing indices; equal keys may change places.
template <typename Key> void QuickSort(std::vector<std::pair<size_t, Key>>& v, long lo, long hi) {
    while (lo < hi) {
        const Key pivot = v[static_cast<size_t>(lo + (hi - lo) / 2)].second;
        long i = lo;
        long j = hi;
        do {
            while (v[static_cast<size_t>(i)].second < pivot)
                ++i;
            while (pivot < v[static_cast<size_t>(j)].second)
                --j;
            if (i <= j) {
                std::swap(v[static_cast<size_t>(i)], v[static_cast<size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        // Recurse into the smaller part and loop on the larger, so the depth stays logarithmic.
        if (j - lo < hi - i) {
            if (lo < j) QuickSort(v, lo, j);
            lo = i;
        } else {
            if (i < hi) QuickSort(v, i, hi);
            hi = j;
        }
    }
}

template <typename Key, typename KeyOf> void SortBy(AssetsFile& file, KeyOf keyOf) {
    auto& rows = file.items.listRows;
    std::vector<std::pair<size_t, Key>> pairs;
    pairs.reserve(rows.size());
    for (const auto& row : rows)
        pairs.emplace_back(row.number - 1, keyOf(row));
    if (!pairs.empty()) QuickSort(pairs, 0, static_cast<long>(pairs.size()) - 1);
    for (size_t k = 0; k < pairs.size(); ++k)
        FillListRow(file, k, pairs[k].first);
}

} // namespace

void SortListRows(AssetsFile& file, ListColumn column) {
    switch (column) {
    case ListColumn::Number:
        for (size_t i = 0; i < file.items.listRows.size(); ++i)
            FillListRow(file, i, i);
        break;
    case ListColumn::Name:
        SortBy<std::string>(file, [](const TColumns_ListView& r) { return r.name; });
        break;
    case ListColumn::Type:
        SortBy<uint32_t>(
            file, [](const TColumns_ListView& r) { return static_cast<uint32_t>(r.typeId); });
        break;
    case ListColumn::Size:
        SortBy<uint32_t>(file, [](const TColumns_ListView& r) { return r.size; });
        break;
    case ListColumn::Offset:
        // Positions in working files of 4 GiB and more keep their order: all 64 bits compare.
        SortBy<uint64_t>(file, [](const TColumns_ListView& r) { return r.offset; });
        break;
    }
}

} // namespace kestrel::ui
