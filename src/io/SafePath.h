#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrel {

// Names read from archives decide paths on disk. These helpers keep every such path inside the
// directory it belongs to.

// One path component made safe: separators, NUL and control characters, a drive colon become
// "_"; an empty name, "." and ".." become "_", "_." and "_.." so they stay ordinary names.
std::string SafeComponent(std::string_view name);

// A relative path whose components are each made safe (split at "/" and "\"; empty components
// dropped), so the result never leaves the directory it is joined to.
std::string SafeRelativePath(std::string_view path);

// True when `path`, made absolute and normalised, lies inside `root` (or is root).
bool IsInside(const std::filesystem::path& root, const std::filesystem::path& path);

// root / relative, raising a KestrelError when the result would leave root.
std::filesystem::path JoinInside(const std::filesystem::path& root, std::string_view relative);

// Creates a directory with all its parents; raises a KestrelError on failure.
void CreateDirectories(const std::filesystem::path& dir);

} // namespace kestrel
