#pragma once
// The edited files of an export tree that an import takes back, and the converters that turn
// edited pictures and sounds into raw object files first.
#include "session/ConverterInput.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// The export tree of the scope's inner file: its output base + "Unity_Assets_Files/" + its
// directory name.
std::filesystem::path ImportRoot(const InnerScope& scope);

// True when a raw file of this name is imported under the -t list `filter`: its last extension
// equals an entry (without regard to case), or, for the entry "114", begins with "-" (the export
// names of script instances end in "." and their negative type).
bool SelectedByTypeFilter(std::string_view fileName, const std::vector<std::string>& filter);

// Symbolic links are never taken for files: a link in an export tree could lead anywhere.

// The names of the regular files directly in `root`, sorted, each once: every file, or with -t
// those SelectedByTypeFilter picks.
std::vector<std::string> RawFileNames(const std::filesystem::path& root, const RunOptions& options);

// The regular files in `dir` and all its subdirectories whose extension, lower-cased, is "." +
// extension (every file when extension is empty), sorted.
std::vector<std::filesystem::path> CollectFiles(const std::filesystem::path& dir,
                                                std::string_view extension);

// A picture turned back into its object's raw file, not yet put into the export tree.
struct ConvertedFile {
    size_t index = 0;
    std::filesystem::path editedFile; // the picture in the export tree
    std::filesystem::path output;     // the raw object bytes made from it, in the staging folder
};

// Runs the converter of each edited picture or sound under `root` whose name, without its last
// extension, is an object's export name. Pictures are turned into raw object files in `staging`
// (created here), one per picture, and returned for the caller to weigh against the object's other
// files; sounds write their object's raw file into `root` at once. A converter's error is shown
// (Alert) and the import goes on; an output that cannot be written ends it. A picture with one of
// `links` (the tree's symbolic links, shown by the caller) beside it under its name and a suffix
// is passed over.
std::vector<ConvertedFile> ConvertEditedFiles(const InnerScope& scope,
                                              const std::filesystem::path& root,
                                              const std::filesystem::path& staging,
                                              const std::vector<std::filesystem::path>& links);

} // namespace kestrel
