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

bool StripPrefix(std::string_view& s, std::string_view prefix) {
    if (s.substr(0, prefix.size()) != prefix) return false;
    s.remove_prefix(prefix.size());
    return true;
}

bool StripSuffix(std::string_view& s, std::string_view suffix) {
    if (s.size() < suffix.size() || s.substr(s.size() - suffix.size()) != suffix) return false;
    s.remove_suffix(suffix.size());
    return true;
}

bool AllDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// Strips the run's tag at the end of `s`: ".kestrel-PID", then "-N" (required for the temporary
// files of AtomicOutputFile, optional for CreateUniqueFile's names).
bool StripTag(std::string_view& s, bool counterRequired) {
    const auto at = s.rfind(".kestrel-");
    if (at == std::string_view::npos) return false;
    const std::string_view tag = s.substr(at + 9);
    const auto dash = tag.find('-');
    const bool ok = dash == std::string_view::npos
                        ? !counterRequired && AllDigits(tag)
                        : AllDigits(tag.substr(0, dash)) && AllDigits(tag.substr(dash + 1));
    if (ok) s = s.substr(0, at);
    return ok;
}

// "FILE.kestrel-PID[-N].TEMP" or ".joined".
bool IsCopyName(std::string_view s, std::string_view file) {
    return (StripSuffix(s, ".TEMP") || StripSuffix(s, ".joined")) && StripTag(s, false) &&
           s == file;
}

} // namespace

bool IsWorkingFileName(std::string_view name, std::string_view file, std::string_view pieceStem) {
    // What a packing or a rewrite is made for: the archive, a working copy, or a copy's
    // ".packed" file cut into new pieces.
    const auto madeFor = [file](std::string_view target) {
        StripSuffix(target, ".packed");
        return target == file || IsCopyName(target, file);
    };
    std::string_view blocks = name;
    std::string_view temp = name;
    std::string_view piece = name;
    return IsCopyName(name, file) ||
           (StripSuffix(blocks, ".blocks") && StripTag(blocks, false) && madeFor(blocks)) ||
           (StripPrefix(temp, ".") && StripSuffix(temp, ".tmp") && StripTag(temp, true) &&
            madeFor(temp)) ||
           (!pieceStem.empty() && StripSuffix(piece, ".new") && StripTag(piece, false) &&
            StripPrefix(piece, pieceStem) && AllDigits(piece));
}

size_t RemoveDeadWorkingFiles(const fs::path& archive, const std::string& pieceStem) {
    const std::string file = archive.filename().string();
    fs::path dir = archive.parent_path();
    if (dir.empty()) dir = ".";
    size_t removed = ScratchFiles::RemoveUnlocked(
        dir, [&](std::string_view name) { return IsWorkingFileName(name, file, pieceStem); });
    // Copies of archives in folders that cannot be written go to the temporary directory, and
    // only copies: no pieces there.
    std::error_code ec;
    const fs::path tmp = TemporaryDirectory();
    if (!fs::equivalent(tmp, dir, ec)) {
        removed += ScratchFiles::RemoveUnlocked(
            tmp, [&](std::string_view name) { return IsWorkingFileName(name, file, {}); });
    }
    return removed;
}

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
