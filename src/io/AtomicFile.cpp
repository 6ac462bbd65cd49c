#include "io/AtomicFile.h"

#include "common/Error.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace kestrel {
namespace {

// Registered scratch paths live in fixed slots of plain characters so that a signal handler can
// walk them without allocating or locking.
constexpr size_t kSlots = 64;
constexpr size_t kPathMax = 4096;
struct Slot {
    std::atomic<bool> used{false};
    std::array<char, kPathMax> path{};
};
std::array<Slot, kSlots> gSlots;
std::mutex gSlotsMutex;

std::atomic<unsigned> gCounter{0};

std::filesystem::path TempNameBeside(const std::filesystem::path& target) {
    // A long target name would push the temporary name past the file system's limit: such files
    // get a temporary name of the process alone.
    const std::string base = target.filename().string();
    const std::string name = (base.size() <= 200 ? "." + base : std::string()) + ".kestrel-" +
                             std::to_string(::getpid()) + "-" + std::to_string(gCounter++) + ".tmp";
    return target.parent_path() / name;
}

void SyncDirectory(const std::filesystem::path& dir) {
    const std::filesystem::path d = dir.empty() ? std::filesystem::path(".") : dir;
    const int fd = ::open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

namespace ScratchFiles {

void Add(const std::filesystem::path& path) {
    const std::string s = path.string();
    if (s.size() >= kPathMax) return;
    std::lock_guard lock(gSlotsMutex);
    for (Slot& slot : gSlots) {
        if (slot.used.load()) continue;
        std::memcpy(slot.path.data(), s.c_str(), s.size() + 1);
        slot.used.store(true);
        return;
    }
}

void Remove(const std::filesystem::path& path) {
    const std::string s = path.string();
    std::lock_guard lock(gSlotsMutex);
    for (Slot& slot : gSlots) {
        if (slot.used.load() && s == slot.path.data()) {
            slot.used.store(false);
            return;
        }
    }
}

void UnlinkAllFromSignal() {
    for (Slot& slot : gSlots) {
        if (slot.used.load()) ::unlink(slot.path.data());
    }
}

} // namespace ScratchFiles

AtomicOutputFile::AtomicOutputFile(std::filesystem::path target, Flush flush)
    : target_(std::move(target)), flush_(flush) {
    for (int attempt = 0;; ++attempt) {
        temp_ = TempNameBeside(target_);
        try {
            file_ = std::make_unique<OutputFile>(temp_, OutputFile::Mode::CreateNew);
            break;
        } catch (const KestrelError&) {
            if (errno != EEXIST || attempt > 100) throw;
        }
    }
    ScratchFiles::Add(temp_);
}

AtomicOutputFile::~AtomicOutputFile() {
    Abandon();
}

void AtomicOutputFile::Abandon() {
    if (done_) return;
    done_ = true;
    file_.reset();
    std::error_code ec;
    std::filesystem::remove(temp_, ec);
    ScratchFiles::Remove(temp_);
}

void AtomicOutputFile::Commit() {
    if (done_) throw KestrelError("Internal error: " + target_.string() + " committed twice");
    try {
        if (flush_ == Flush::ToDisk) file_->Sync();
        file_->Close();
        std::error_code ec;
        std::filesystem::rename(temp_, target_, ec);
        if (ec) throw KestrelError("Cannot write " + target_.string() + ": " + ec.message());
    } catch (...) {
        Abandon();
        throw;
    }
    done_ = true;
    ScratchFiles::Remove(temp_);
    if (flush_ == Flush::ToDisk) SyncDirectory(target_.parent_path());
}

void WriteFileAtomically(const std::filesystem::path& target, const void* data, size_t count,
                         AtomicOutputFile::Flush flush) {
    AtomicOutputFile out(target, flush);
    out.Write(data, count);
    out.Commit();
}

std::unique_ptr<OutputFile> CreateUniqueFile(const std::filesystem::path& dir,
                                             const std::string& stem, std::string_view suffix,
                                             std::filesystem::path& path) {
    for (int n = 0; n < 1000; ++n) {
        path =
            dir / (stem + (n == 0 ? std::string() : "-" + std::to_string(n)) + std::string(suffix));
        try {
            auto file = std::make_unique<OutputFile>(path, OutputFile::Mode::CreateNew);
            ScratchFiles::Add(path);
            return file;
        } catch (const KestrelError&) {
            const int error = errno;
            if (error == EACCES || error == EPERM || error == EROFS) return nullptr;
            if (error != EEXIST && error != ELOOP) throw;
        }
    }
    throw KestrelError("Cannot create a working file in " + dir.string() + ": every name of " +
                       stem + std::string(suffix) + " is taken");
}

} // namespace kestrel
