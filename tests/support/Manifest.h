#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::test {

// One row of the samples manifest's table, its cells trimmed. Columns: 1 local path,
// 4 signature/format, 5 engine version, 6 serialized format, 7 endian, 8 platform, 10 contents.
using ManifestRow = std::vector<std::string>;

// The table rows of samples/MANIFEST.md (header and separator rows included; callers filter).
std::vector<ManifestRow> ReadManifestRows(const std::filesystem::path& samples);

// Local paths of the samples whose serialized files are of formats first..last and whose
// contents column names any of the given class names.
std::vector<std::string> SamplesHolding(const std::filesystem::path& samples, int first, int last,
                                        const std::vector<std::string>& classNames);

// Local paths of the plain assets files (no bundle, no pieces) of serialized formats first..last
// that are present.
std::vector<std::string> PlainSamples(const std::filesystem::path& samples, int first, int last);

// Copies a sample with its companions (split pieces, .resS and .resource files: the files of its
// directory whose names share its stem) into dir, writable, since opening writes working files
// beside the archive; returns the copy of the sample.
std::filesystem::path CopySampleWithCompanions(const std::filesystem::path& sample,
                                               const std::filesystem::path& dir);

} // namespace kestrel::test
