#include "session/WorkingFiles.h"

#include "common/Error.h"
#include "io/AtomicFile.h"
#include "io/ByteSource.h"
#include "io/ByteStreams.h"

#include <cstdlib>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

fs::path TemporaryDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? fs::path(tmp) : fs::path("/tmp");
}

std::string SizeText(uint64_t bytes) {
    constexpr uint64_t kMiB = 1024 * 1024;
    if (bytes >= kMiB) return std::to_string((bytes + kMiB - 1) / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace

void RequireFreeSpace(const fs::path& dir, uint64_t bytes, const std::string& what) {
    struct statvfs st {};
    if (bytes == UINT64_MAX || ::statvfs(dir.c_str(), &st) != 0) return;
    const uint64_t available = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    if (bytes > available) {
        throw KestrelError("Not enough free space for " + what + ": it needs " + SizeText(bytes) +
                           ", " + dir.string() + " has " + SizeText(available) + " free");
    }
}

std::unique_ptr<OutputFile> CreateWorkingFile(const fs::path& archive, std::string_view suffix,
                                              uint64_t declaredSize, fs::path& path) {
    const std::string stem = archive.filename().string() + ".kestrel-" + std::to_string(::getpid());
    const std::string what = "the working copy of " + archive.string();
    fs::path dir = archive.parent_path();
    if (dir.empty()) dir = ".";
    if (::access(dir.c_str(), W_OK) == 0) {
        RequireFreeSpace(dir, declaredSize, what);
        if (auto file = CreateUniqueFile(dir, stem, suffix, path)) return file;
    }
    // A read-only folder (an installed game, a mounted image): the copy goes to the temporary
    // directory instead.
    const fs::path tmp = TemporaryDirectory();
    RequireFreeSpace(tmp, declaredSize, what);
    if (auto file = CreateUniqueFile(tmp, stem, suffix, path)) return file;
    throw KestrelError("Cannot create " + what + ": neither " + dir.string() + " nor " +
                       tmp.string() + " can be written to");
}

fs::path JoinPiecesIntoWorkingFile(const fs::path& joinedName, std::string_view pieceSuffix,
                                   uint32_t& pieces, const WorkProgress& progress) {
    const std::string base = joinedName.string() + std::string(pieceSuffix);
    // The first piece is opened before the joined file is created, so a missing archive leaves
    // nothing behind; the sizes of all pieces give the free-space check its total.
    auto first = FileSource::Open(base + "0");
    std::vector<std::string> names{base + "0"};
    uint64_t total = first->Size();
    for (;;) {
        const std::string name = base + std::to_string(names.size());
        std::error_code ec;
        if (!fs::is_regular_file(name, ec)) break;
        const uint64_t size = fs::file_size(name, ec);
        total += ec ? 0 : size;
        names.push_back(name);
    }
    fs::path path;
    auto out = CreateWorkingFile(joinedName, ".joined", total, path);
    try {
        for (size_t i = 0; i < names.size(); ++i) {
            auto piece = i == 0 ? first : FileSource::Open(names[i]);
            SourceInput in(piece, 0, piece->Size());
            FileOutput sink(*out);
            CopyStream(in, sink);
            if (progress) progress(out->Position(), total);
        }
        out->Close();
    } catch (...) {
        out.reset();
        RemoveWorkingFile(path);
        throw;
    }
    pieces = static_cast<uint32_t>(names.size());
    return path;
}

void RemoveWorkingFile(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
    ScratchFiles::Remove(path);
}

} // namespace kestrel
