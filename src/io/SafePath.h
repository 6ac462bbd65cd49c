#pragma once
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// Names read from archives decide paths on disk. These helpers keep every such path inside the
// directory it belongs to.

// One path component made safe: separators, NUL and control characters, a drive colon become
// "_"; an empty name, "." and ".." become "_", "_." and "_.." so they stay ordinary names.
std::string SafeComponent(std::string_view name);

// The export tree of an archive (or of "<archive>/<inner file>"), relative to the output base:
// "Unity_Assets_Files/" + archiveDirName + "/".
std::string ExportTreeOf(std::string_view archiveDirName);

// A relative path whose components are each made safe (split at "/" and "\"; empty components
// dropped), so the result never leaves the directory it is joined to.
std::string SafeRelativePath(std::string_view path);

// True when `path`, made absolute and normalised, lies inside `root` (or is root).
bool IsInside(const std::filesystem::path& root, const std::filesystem::path& path);

// File systems refuse names longer than this many bytes.
inline constexpr size_t kFileNameLimit = 255;

// The name itself when it fits kFileNameLimit; otherwise cut, keeping its extensions and adding a
// short hash of the whole name ("~1a2b3c4d"), so that every object still gets a file of its own.
std::string FitFileNameLimit(std::string_view name);

// How a path below a root treats symbolic links among its components.
enum class Links {
    Refuse, // the export tree and the output folder: a link could lead anywhere
    Follow, // the archive's own folder, laid out by the user
};

// root / relative, each component fitted to the name limit, raising a KestrelError when the result
// would leave root, or (Links::Refuse) when one of its components below root that exists is a
// symbolic link: the message names the link and says it is not followed.
std::filesystem::path JoinInside(const std::filesystem::path& root, std::string_view relative,
                                 Links links = Links::Refuse);

// The first of root / c1, root / c1 / c2, ... (the components of `relative`) that is a symbolic
// link, or an empty path when none is (components that do not exist end the walk).
std::filesystem::path FirstLinkBelow(const std::filesystem::path& root,
                                     const std::filesystem::path& relative);

// The text that refuses a symbolic link below the output folder: "LINK: a symbolic link (to
// TARGET); Kestrel does not follow links below the output folder".
std::string LinkRefusedText(const std::filesystem::path& link);

// The symbolic links in `dir` and below it, sorted; linked folders are not entered.
std::vector<std::filesystem::path> LinksIn(const std::filesystem::path& dir);

// Creates a directory with all its parents; raises a KestrelError on failure.
void CreateDirectories(const std::filesystem::path& dir);

} // namespace kestrel
