#pragma once
// Helpers shared by the archive writer's tests.
#include "bundle/ArchiveWriter.h"
#include "bundle/BundleReader.h"
#include "support/BundleBuilder.h"

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kestrel::test {

using Bytes = std::vector<uint8_t>;

Bytes FileBytes(const std::filesystem::path& path);
void PutFile(const std::filesystem::path& path, const Bytes& bytes);
std::shared_ptr<const ByteSource> Memory(const Bytes& bytes);

// An archive opened as the program opens it: records and the working file.
struct WriterArchive {
    BundleStructure bundle;
    std::string workFileName;
};
WriterArchive OpenForWriting(const std::filesystem::path& archive);

// The bytes of every inner file of the bundle, read from its working file.
std::vector<Bytes> InnerFileBytes(const BundleStructure& bundle, const std::string& workFile);

// The names in a directory.
std::set<std::string> Listing(const std::filesystem::path& dir);

// Three inner files: an assets file spanning several 128 KiB blocks, a resource, a second assets
// file. `scale` multiplies the sizes of the first two.
std::vector<InnerFile> WriterFiles(size_t scale = 1);

// The joined bytes of base + ".split0", ".split1", ... while they exist; `count` gets how many.
Bytes JoinedPieces(const std::filesystem::path& base, uint32_t& count);

} // namespace kestrel::test
