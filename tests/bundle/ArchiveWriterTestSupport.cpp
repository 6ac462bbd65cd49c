#include "ArchiveWriterTestSupport.h"

#include "support/TempDir.h"

namespace kestrel::test {

namespace fs = std::filesystem;

Bytes FileBytes(const fs::path& path) {
    const auto b = ReadFileBytes(path);
    return Bytes(b.begin(), b.end());
}

void PutFile(const fs::path& path, const Bytes& bytes) {
    WriteFileBytes(path, {bytes.begin(), bytes.end()});
}

std::shared_ptr<const ByteSource> Memory(const Bytes& bytes) {
    return std::make_shared<MemorySource>("replacement", bytes);
}

WriterArchive OpenForWriting(const fs::path& archive) {
    WriterArchive o;
    o.workFileName = ReadContainer(archive.string(), o.bundle).workFileName;
    return o;
}

std::vector<Bytes> InnerFileBytes(const BundleStructure& bundle, const std::string& workFile) {
    const Bytes work = FileBytes(workFile);
    std::vector<Bytes> out;
    for (const auto& e : InnerEntries(bundle)) {
        if (e.offset + e.size > work.size()) {
            out.push_back({});
            continue;
        }
        const auto begin = work.begin() + static_cast<std::ptrdiff_t>(e.offset);
        out.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(e.size));
    }
    return out;
}

std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

std::vector<InnerFile> WriterFiles(size_t scale) {
    Bytes resource = {'O', 'g', 'g', 'S'};
    const Bytes noise = NoiseBytes(70000 * scale, 5);
    resource.insert(resource.end(), noise.begin(), noise.end());
    return {{"CAB-first", MinimalAssetsFile("5.6.3p1", 200000 * scale), 4},
            {"CAB-first.resS", resource, 0},
            {"archive:/CAB-second/CAB-second", MinimalAssetsFile("2017.4.1f1", 5000), 4}};
}

Bytes JoinedPieces(const fs::path& base, uint32_t& count) {
    Bytes all;
    for (count = 0;; ++count) {
        const fs::path piece = base.string() + ".split" + std::to_string(count);
        if (!fs::exists(piece)) break;
        const Bytes b = FileBytes(piece);
        all.insert(all.end(), b.begin(), b.end());
    }
    return all;
}

} // namespace kestrel::test
