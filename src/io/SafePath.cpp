#include "io/SafePath.h"

#include "common/Error.h"

#include <system_error>

namespace kestrel {

std::string SafeComponent(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        out.push_back((u < 32 || c == '/' || c == '\\' || c == ':') ? '_' : c);
    }
    if (out.empty() || out == "." || out == "..") out = "_" + out;
    return out;
}

std::string SafeRelativePath(std::string_view path) {
    std::string out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (!part.empty()) {
            if (!out.empty()) out.push_back('/');
            out += SafeComponent(part);
        }
        start = end + 1;
    }
    return out.empty() ? SafeComponent("") : out;
}

bool IsInside(const std::filesystem::path& root, const std::filesystem::path& path) {
    const auto r = std::filesystem::absolute(root).lexically_normal();
    const auto p = std::filesystem::absolute(path).lexically_normal();
    auto rel = p.lexically_relative(r);
    if (rel.empty()) return false;
    auto first = rel.begin();
    return first == rel.end() || (*first != ".." && !rel.is_absolute());
}

std::filesystem::path JoinInside(const std::filesystem::path& root, std::string_view relative) {
    std::filesystem::path rel(relative);
    if (rel.is_absolute() || relative.find('\\') != std::string_view::npos) {
        throw KestrelError("Refused path outside the output directory: " + std::string(relative));
    }
    auto joined = root / rel;
    if (!IsInside(root, joined)) {
        throw KestrelError("Refused path outside the output directory: " + std::string(relative));
    }
    return joined;
}

void CreateDirectories(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw KestrelError("Cannot create directory " + dir.string() + ": " + ec.message());
}

} // namespace kestrel
