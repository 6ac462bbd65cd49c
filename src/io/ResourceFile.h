#pragma once
// Resource files (.resS, .resource) read and appended to as one file, whether they lie whole or,
// as Android builds leave them, cut into pieces "NAME.split0", "NAME.split1", ... beside the
// split assets file. A whole file is taken first; pieces only when it is missing.
#include "io/ByteSource.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace kestrel {

// The size pieces are cut to (the last one shorter), by the engine and by Kestrel alike.
constexpr uint64_t kSplitPieceSize = 1024 * 1024;

// True when `file` is a regular file, or when its first piece `file` + ".split0" is.
bool ResourceFileExists(const std::filesystem::path& file);

// The bytes of `file`, or of its pieces one after another. Raises a KestrelError naming the file
// when neither can be opened.
std::shared_ptr<const ByteSource> OpenResourceFile(const std::filesystem::path& file);

// Appends `bytes` after the end of `file` (or of its pieces: the last piece is filled up to
// kSplitPieceSize, then new pieces of that size follow) and returns the offset they start at.
// Bytes already there are never touched. Within an import the old length of the file or last
// piece and every new piece are recorded (ResourceGrowth), so a failed import takes them back.
uint64_t AppendToResourceFile(const std::filesystem::path& file, const ByteSource& bytes);
uint64_t AppendToResourceFile(const std::filesystem::path& file, std::span<const uint8_t> bytes);

} // namespace kestrel
