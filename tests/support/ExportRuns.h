#pragma once
#include "session/State.h"
#include "support/AudioObjects.h"

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::test {

// Opens the archive and exports everything, as the export task does, into outputDir (the
// archive's own directory when empty).
void OpenAndExport(KestrelState& state, RecordedMessages& messages,
                   const std::filesystem::path& archive, const std::string& outputDir = "");

// The first object with a text payload among the classes, tried in the order given; or none.
std::optional<size_t> FirstText(const KestrelState& state, std::initializer_list<int32_t> classIds);

// The names of the raw files directly in `before` that are missing from `after` or differ there,
// then those only in `after`; empty when the two hold the same files.
std::vector<std::string> RawFilesChanged(const std::filesystem::path& before,
                                         const std::filesystem::path& after);

} // namespace kestrel::test
