#include "ui/Search.h"

#include "assets/ClassId.h"

#include <algorithm>
#include <string_view>

namespace kestrel::ui {

bool NeverSearchedByContent(int32_t typeId) {
    switch (typeId) {
    case 27:
    case ClassId::kTexture2D:
    case ClassId::kAudioClip:
    case ClassId::kFont:
    case ClassId::kMovieTexture:
        return true;
    default:
        return false;
    }
}

bool SearchObjectData(const ByteSource& source, const std::string& text, uint64_t from,
                      uint64_t to) {
    if (text.empty() || text.size() > kSearchChunk || from >= to) return false;
    std::vector<char> chunk(kSearchChunk);
    const uint64_t overlap = text.size() - 1;
    uint64_t pos = from;
    bool first = true;
    while (pos < to) {
        if (!first) pos -= overlap;
        first = false;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kSearchChunk, to - pos));
        const size_t got = source.ReadAt(pos, chunk.data(), want);
        const std::string_view view(chunk.data(), got);
        if (view.find(text) != std::string_view::npos) return true;
        // A short read means the end of the file: nothing more to search.
        if (got < want || got <= overlap) return false;
        pos += got;
    }
    return false;
}

namespace {

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperAscii(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](char c) { return UpperAscii(c); });
    return s;
}

bool RowMatches(const TColumns_ListView& row, const ByteSource* work, const SearchQuery& q) {
    if (!q.contentMode) return NameMatches(row.name, q.text, q.matchCase);
    if (!q.matchCase || work == nullptr || NeverSearchedByContent(row.typeId)) return false;
    return SearchObjectData(*work, q.text, row.offset, row.offset + row.size);
}

} // namespace

bool NameMatches(const std::string& name, const std::string& text, bool matchCase) {
    if (text.empty()) return false;
    if (matchCase) return name.find(text) != std::string::npos;
    return UpperAscii(name).find(UpperAscii(text)) != std::string::npos;
}

std::optional<size_t> FindRow(const std::vector<TColumns_ListView>& rows, size_t rowCount,
                              const ByteSource* work, long long start, bool backward,
                              const SearchQuery& query) {
    const long long count = static_cast<long long>(std::min(rowCount, rows.size()));
    if (count == 0) return std::nullopt;
    const long long step = backward ? -1 : 1;
    long long i = start;
    // With loop the scan wraps at the ends; it stops once every row has been tested, so a text
    // that matches nothing ends the search wherever it started.
    for (long long tested = 0; tested < count; ++tested) {
        if (i < 0 || i >= count) {
            if (!query.loop) return std::nullopt;
            i = backward ? count - 1 : 0;
        }
        if (RowMatches(rows[static_cast<size_t>(i)], work, query)) return static_cast<size_t>(i);
        i += step;
    }
    return std::nullopt;
}

} // namespace kestrel::ui
