#include "io/SafePath.h"

#include "common/Error.h"

#include <algorithm>
#include <cstdio>
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

std::string FitFileNameLimit(std::string_view name) {
    if (name.size() <= kFileNameLimit) return std::string(name);
    // The extensions are the part from the first dot among the last bytes (".tex.dds", "_2.dds"
    // keeps its ".dds"); they stay, so the file keeps its kind.
    const size_t tailStart = name.size() - std::min<size_t>(name.size(), 24);
    size_t dot = name.find('.', tailStart);
    if (dot == std::string_view::npos) dot = name.size();
    const std::string_view extension = name.substr(dot);
    // A short hash of the whole name keeps two long names with one beginning apart.
    uint32_t hash = 2166136261u;
    for (const char c : name)
        hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    char tag[10];
    std::snprintf(tag, sizeof tag, "~%08x", static_cast<unsigned>(hash));
    size_t keep = kFileNameLimit - extension.size() - 9;
    // Never cut inside a UTF-8 sequence.
    while (keep > 0 && (static_cast<uint8_t>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return std::string(name.substr(0, keep)) + tag + std::string(extension);
}

std::filesystem::path FirstLinkBelow(const std::filesystem::path& root,
                                     const std::filesystem::path& relative) {
    std::filesystem::path at = root;
    for (const auto& part : relative) {
        if (part.empty() || part == ".") continue;
        at /= part;
        std::error_code ec;
        const auto status = std::filesystem::symlink_status(at, ec);
        if (ec || !std::filesystem::exists(status)) break;
        if (std::filesystem::is_symlink(status)) return at;
    }
    return {};
}

std::string LinkRefusedText(const std::filesystem::path& link) {
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::read_symlink(link, ec);
    return link.string() + ": a symbolic link" + (ec ? "" : " (to " + target.string() + ")") +
           "; Kestrel does not follow links below the output folder";
}

std::vector<std::filesystem::path> LinksIn(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> links;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::end(it); it.increment(ec)) {
        std::error_code statusError;
        if (it->is_symlink(statusError)) links.push_back(it->path());
    }
    std::sort(links.begin(), links.end());
    return links;
}

std::filesystem::path JoinInside(const std::filesystem::path& root, std::string_view relative,
                                 Links links) {
    std::filesystem::path rel;
    for (const auto& part : std::filesystem::path(relative))
        rel /= FitFileNameLimit(part.string());
    if (rel.is_absolute() || relative.find('\\') != std::string_view::npos) {
        throw KestrelError("Refused path outside the output directory: " + std::string(relative));
    }
    auto joined = root / rel;
    if (!IsInside(root, joined)) {
        throw KestrelError("Refused path outside the output directory: " + std::string(relative));
    }
    if (links == Links::Refuse) {
        const std::filesystem::path link = FirstLinkBelow(root, rel);
        if (!link.empty()) throw KestrelError(LinkRefusedText(link));
    }
    return joined;
}

void CreateDirectories(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw KestrelError("Cannot create directory " + dir.string() + ": " + ec.message());
}

std::string ExportTreeOf(std::string_view archiveDirName) {
    return "Unity_Assets_Files/" + std::string(archiveDirName) + "/";
}

} // namespace kestrel
