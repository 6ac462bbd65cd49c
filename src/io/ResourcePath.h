#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel {

// What locating a resource file named inside an object needs to know of the archive opened.
struct ResourcePlaces {
    std::string outputBaseDir;  // ends with "/": the export tree lies below it
    std::string archiveDir;     // ends with "/": the archive's own directory ("" when unknown)
    std::string archiveDirName; // "<archive>" or "<archive>/<inner file>"
    std::vector<std::string> innerFileNames; // of the bundle opened; empty for a plain file
    // The archive's own export tree name when it has several components (a game folder run:
    // "GAME_Data/data.unity3d"); empty: the first component of archiveDirName.
    std::string archiveTree;
};

// Where a resource file (.resS, .resource) named by an object's stored path lies.
struct ResourceFileLocation {
    std::string relativePath;   // "/"-separated, relative to the base below
    std::filesystem::path file; // the base + relativePath
    std::string shownPath;      // the text a missing-file message shows
    std::string fileName;       // the stored path's last component
};

// An "archive:..." path, or a plain name that is an inner file of the open bundle, names a
// bundle's resource entry, which an earlier export wrote into the export tree:
// outputBaseDir + "Unity_Assets_Files/<archive tree>/<R>/<R>", R being the
// path's file name. Any other path lies relative to the archive's directory ("\" separates
// directories as "/" does). Absolute paths and paths with a NUL byte or a ".." component are
// refused with a KestrelError naming `owner`, so no file outside the base is read or written.
ResourceFileLocation LocateResourceFile(const ResourcePlaces& places, const std::string& storedPath,
                                        const std::string& owner);

} // namespace kestrel
