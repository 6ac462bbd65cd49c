#pragma once
// The JSON form of objects in an export tree: NAME.EXT.json beside the raw file of every object
// whose type tree is known, written by the export and read back by the import.
#include "assets/AssetsWrite.h"
#include "assets/FileTypeTrees.h"
#include "assets/TypeTreeLibrary.h"
#include "session/ConverterInput.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// The JSON file name of an object exported as `exportName`.
std::string JsonFileName(const std::string& exportName);

// True when `fileName` ends in ".json" (any case).
bool IsJsonFileName(const std::string& fileName);

// The type trees of the scope's inner file, with those the run's --types files lend to types the
// file strips. Metadata the trees cannot be read from is shown as an alert, and the file then has
// none.
FileTypeTrees TypeTreesOf(const InnerScope& scope);

// Reads the type trees of every inner file of each of `files` (bundles or assets files). Raises a
// KestrelError naming the file when it cannot be opened or holds no type tree.
std::shared_ptr<const TypeTreeLibrary> LoadTypeSources(const std::vector<std::string>& files,
                                                       const RunOptions& options,
                                                       Reporter& reporter);

// Writes the JSON file of object `index` into `dir`. False when the object has no type tree;
// raises a KestrelError when it cannot be read by its tree or the file cannot be written.
bool WriteObjectJson(const InnerScope& scope, const FileTypeTrees& trees, size_t index,
                     const std::filesystem::path& dir);

// The largest JSON file read for an object of `objectSize` bytes: 16 times its size and 1 MiB.
uint64_t JsonFileLimit(uint64_t objectSize);

// The edit an edited JSON file makes of object `index` (its whole bytes, name field included),
// or nullopt when the bytes it gives are the stored ones. Raises a KestrelError naming the file
// (and the JSON path of the field) when the object has no tree, the file is larger than
// JsonFileLimit, or its text does not fit the tree.
std::optional<ObjectEdit> EditFromJsonFile(const InnerScope& scope, const FileTypeTrees& trees,
                                           size_t index, const std::filesystem::path& file);

} // namespace kestrel
