#pragma once
#include "assets/AssetsTypes.h"
#include "io/ByteSource.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::ui {

// Objects are searched by content in chunks of this many bytes, so any size needs a bounded
// buffer. A search text longer than one chunk cannot be searched this way and is refused.
constexpr size_t kSearchChunk = 1024000;

// Textures, sounds, fonts and movie textures are never searched by content.
bool NeverSearchedByContent(int32_t typeId);

// Whether text occurs in the bytes of source from position from up to position to. Consecutive
// chunks overlap by the text length less one, so that a match across a chunk border is found.
// An empty range or an empty text never matches; a text longer than a chunk never matches.
bool SearchObjectData(const ByteSource& source, const std::string& text, uint64_t from,
                      uint64_t to);

struct SearchQuery {
    std::string text; // UTF-8
    bool matchCase = false;
    bool loop = false;
    bool contentMode = false;
};

// Whether a name holds the text: exactly with matchCase, else with a to z upper-cased on both
// sides. An empty text never matches.
bool NameMatches(const std::string& name, const std::string& text, bool matchCase);

// The first matching row from start (which may lie one outside the rows), stepping forward or
// backward; with loop it wraps at the ends and tests every row at most once. Content mode needs
// work, the working file, and matches only with matchCase.
std::optional<size_t> FindRow(const std::vector<TColumns_ListView>& rows, size_t rowCount,
                              const ByteSource* work, long long start, bool backward,
                              const SearchQuery& query);

} // namespace kestrel::ui
