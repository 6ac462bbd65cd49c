#pragma once
#include <compare>
#include <cstdint>
#include <string_view>

namespace kestrel {

// An engine version as the assets header states it ("2019.4.31f1", "6000.0.23f1", "5.6.3p2"):
// major, minor, patch, the release type letter (a alpha, b beta, f final, p patch release) and
// its build number. Missing or unreadable parts are 0.
struct EngineVersion {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t patch = 0;
    char type = 'f';
    int32_t build = 0;

    // Alpha, beta, final and patch releases follow one another in that (alphabetical) order.
    friend constexpr auto operator<=>(const EngineVersion&, const EngineVersion&) = default;
};

// Reads the leading numbers of "MAJOR.MINOR.PATCH<letter>BUILD"; never fails.
constexpr EngineVersion ParseEngineVersion(std::string_view text) {
    EngineVersion v;
    size_t i = 0;
    const auto number = [&](int32_t& out) {
        int64_t n = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (n < 100000000) n = n * 10 + (text[i] - '0');
            ++i;
        }
        out = static_cast<int32_t>(n);
    };
    number(v.major);
    if (i < text.size() && text[i] == '.') {
        ++i;
        number(v.minor);
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        number(v.patch);
    }
    if (i < text.size() && text[i] >= 'a' && text[i] <= 'z') {
        v.type = text[i++];
        number(v.build);
    }
    return v;
}

// A version bound for tables: MAJOR.MINOR.PATCH of a final release's first build.
constexpr EngineVersion Version(int32_t major, int32_t minor = 0, int32_t patch = 0,
                                char type = 'a', int32_t build = 0) {
    return EngineVersion{major, minor, patch, type, build};
}

// The row of a layout table whose [from, until) range holds `version`, or nullptr.
template <typename Rows>
auto RowForVersion(const Rows& rows, const EngineVersion& version) -> decltype(&rows[0]) {
    for (const auto& row : rows) {
        if (version >= row.from && version < row.until) return &row;
    }
    return nullptr;
}

} // namespace kestrel
