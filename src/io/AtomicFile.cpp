#include "io/AtomicFile.h"

#include "common/Error.h"

#include <array>
#include <atomic>
#include <pthread.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {
namespace {

// Registered scratch paths live in fixed slots of plain characters so that a signal handler can
// walk them without allocating or locking. A slot also keeps the descriptor that holds the file's
// lock (-1: none).
constexpr size_t kSlots = 64;
constexpr size_t kPathMax = 4096;
struct Slot {
    std::atomic<bool> used{false};
    std::atomic<bool> unlinkOnSignal{false};
    int lockFd = -1;
    std::array<char, kPathMax> path{};
};
std::array<Slot, kSlots> gSlots;
std::mutex gSlotsMutex;
// Locks of files registered while every slot was taken (a signal does not remove those).
std::map<std::string, int> gOverflowLocks;

void ReleaseOverflow(const std::string& path) {
    const auto found = gOverflowLocks.find(path);
    if (found == gOverflowLocks.end()) return;
    if (found->second >= 0) ::close(found->second);
    gOverflowLocks.erase(found);
}

Slot* FindSlot(const std::string& path) {
    for (Slot& slot : gSlots) {
        if (slot.used.load() && path == slot.path.data()) return &slot;
    }
    return nullptr;
}

void ReleaseSlot(Slot& slot) {
    if (slot.lockFd >= 0) ::close(slot.lockFd);
    slot.lockFd = -1;
    slot.unlinkOnSignal.store(false);
    slot.used.store(false);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Takes the lock of a file this process has just created as `fd`, on a description of its own
// that outlives the file's writer; -1 when the name no longer leads to that file (a cleaner of
// another run removed it between its creation and this lock: the caller takes another name).
// Raises a KestrelError, removing the file, when no lock can be taken.
int LockNewFile(int fd, const std::filesystem::path& path) {
    const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    int rc = held < 0 ? -1 : 0;
    // Waits out a cleaner that holds it for the moment between its lock and its unlink.
    while (held >= 0 && (rc = ::flock(held, LOCK_EX)) != 0 && errno == EINTR) {
    }
    const int error = errno;
    struct stat opened {};
    struct stat named {};
    const bool ours =
        ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && SameFile(opened, named);
    if (rc == 0 && ours) return held;
    if (held >= 0) ::close(held);
    if (!ours) return -1;
    ::unlink(path.c_str());
    throw KestrelError("Cannot lock " + path.string() + ": " + std::strerror(error));
}

std::atomic<unsigned> gCounter{0};

// The process number in temporary names, asked of the system once (and again in a forked child)
// rather than once for every file written.
std::atomic<pid_t> gPid{0};

pid_t ProcessId() {
    static const bool registered = [] {
        ::pthread_atfork(nullptr, nullptr, [] { gPid = ::getpid(); });
        gPid = ::getpid();
        return true;
    }();
    (void)registered;
    return gPid;
}

std::filesystem::path TempNameBeside(const std::filesystem::path& target) {
    // A long target name would push the temporary name past the file system's limit: such files
    // get a temporary name of the process alone.
    const std::string base = target.filename().string();
    const std::string name = (base.size() <= 200 ? "." + base : std::string()) + ".kestrel-" +
                             std::to_string(ProcessId()) + "-" + std::to_string(gCounter++) + ".tmp";
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

// Removes dirFd/name when it is a regular file of this user whose lock can be taken at once.
bool RemoveIfUnlocked(int dirFd, const std::string& name) {
    // Never through a link, never a FIFO's open that waits, never another user's file.
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat opened {};
    struct stat named {};
    // A live run holds the lock from the file's creation; a dead one's went with it.
    const bool removed = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                         opened.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                         ::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                         SameFile(opened, named) && ::unlinkat(dirFd, name.c_str(), 0) == 0;
    ::close(fd);
    return removed;
}

// The target a temporary name ".NAME.kestrel-PID-N.tmp" was made for ("" for other names).
std::string TargetOfTempName(std::string_view name) {
    constexpr std::string_view kTag = ".kestrel-";
    constexpr std::string_view kTail = ".tmp";
    if (name.size() < 2 + kTag.size() + kTail.size() || name.front() != '.' ||
        name.substr(name.size() - kTail.size()) != kTail) {
        return {};
    }
    name = name.substr(1, name.size() - 1 - kTail.size());
    const auto at = name.rfind(kTag);
    if (at == std::string_view::npos || at == 0) return {};
    const std::string_view tag = name.substr(at + kTag.size());
    const auto dash = tag.find('-');
    const auto digits = [](std::string_view d) {
        return !d.empty() && d.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (dash == std::string_view::npos || !digits(tag.substr(0, dash)) ||
        !digits(tag.substr(dash + 1))) {
        return {};
    }
    return std::string(name.substr(0, at));
}

// Temporary files that killed runs left beside an output go when that output is written again.
// Each folder is read once per process, at its first output; what it held waits for its target.
std::mutex gLeftMutex;
std::set<std::string> gFoldersRead;
std::map<std::string, std::vector<std::string>> gLeftByTarget; // folder + "/" + target name

void RemoveLeftTemporaries(const std::filesystem::path& target) {
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    std::vector<std::string> left;
    {
        std::lock_guard lock(gLeftMutex);
        if (gFoldersRead.insert(folder).second) {
            if (DIR* listing = ::opendir(folder.c_str())) {
                while (const dirent* e = ::readdir(listing)) {
                    const std::string of = TargetOfTempName(e->d_name);
                    if (!of.empty()) gLeftByTarget[folder + "/" + of].emplace_back(e->d_name);
                }
                ::closedir(listing);
            }
        }
        const auto found = gLeftByTarget.find(folder + "/" + target.filename().string());
        if (found == gLeftByTarget.end()) return;
        left = std::move(found->second);
        gLeftByTarget.erase(found);
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return;
    for (const std::string& name : left)
        RemoveIfUnlocked(dirFd, name);
    ::close(dirFd);
}

} // namespace

namespace ScratchFiles {

void AddLocked(const std::filesystem::path& path, int lockFd) {
    const std::string s = path.string();
    std::lock_guard lock(gSlotsMutex);
    if (Slot* known = FindSlot(s)) {
        known->unlinkOnSignal.store(true);
        if (lockFd >= 0) {
            if (known->lockFd >= 0) ::close(known->lockFd);
            known->lockFd = lockFd;
        }
        return;
    }
    if (s.size() < kPathMax) {
        for (Slot& slot : gSlots) {
            if (slot.used.load()) continue;
            std::memcpy(slot.path.data(), s.c_str(), s.size() + 1);
            slot.lockFd = lockFd;
            slot.unlinkOnSignal.store(true);
            slot.used.store(true);
            return;
        }
    }
    // No slot: the file is still removed by its owner, only not by a signal.
    ReleaseOverflow(s);
    gOverflowLocks.emplace(s, lockFd);
}

void Add(const std::filesystem::path& path) {
    AddLocked(path, -1);
}

void Remove(const std::filesystem::path& path) {
    std::lock_guard lock(gSlotsMutex);
    if (Slot* slot = FindSlot(path.string())) ReleaseSlot(*slot);
    ReleaseOverflow(path.string());
}

void KeepOnSignal(const std::filesystem::path& path) {
    std::lock_guard lock(gSlotsMutex);
    if (Slot* slot = FindSlot(path.string())) slot->unlinkOnSignal.store(false);
}

void Renamed(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::lock_guard lock(gSlotsMutex);
    Slot* source = FindSlot(from.string());
    Slot* target = FindSlot(to.string());
    if (source != nullptr && target != nullptr) {
        // A working file replaced by its new version: the name stays locked, now by the new file.
        if (target->lockFd >= 0) ::close(target->lockFd);
        target->lockFd = source->lockFd;
        source->lockFd = -1;
    }
    if (source != nullptr) ReleaseSlot(*source);
    ReleaseOverflow(from.string());
}

void UnlinkAllFromSignal() {
    for (Slot& slot : gSlots) {
        if (slot.used.load() && slot.unlinkOnSignal.load()) ::unlink(slot.path.data());
    }
}

size_t RemoveUnlocked(const std::filesystem::path& dir,
                      const std::function<bool(std::string_view)>& isScratchName) {
    const std::filesystem::path d = dir.empty() ? std::filesystem::path(".") : dir;
    const int dirFd = ::open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return 0;
    const int listFd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    DIR* listing = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (listing == nullptr) {
        if (listFd >= 0) ::close(listFd);
        ::close(dirFd);
        return 0;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(listing)) {
        if (isScratchName(e->d_name)) names.emplace_back(e->d_name);
    }
    ::closedir(listing);
    size_t removed = 0;
    for (const std::string& name : names)
        removed += RemoveIfUnlocked(dirFd, name) ? 1 : 0;
    ::close(dirFd);
    return removed;
}

} // namespace ScratchFiles

AtomicOutputFile::AtomicOutputFile(std::filesystem::path target, Flush flush)
    : target_(std::move(target)), flush_(flush) {
    RemoveLeftTemporaries(target_);
    int lockFd = -1;
    for (int attempt = 0;; ++attempt) {
        temp_ = TempNameBeside(target_);
        try {
            file_ = std::make_unique<OutputFile>(temp_, OutputFile::Mode::CreateNew);
            lockFd = LockNewFile(file_->Descriptor(), temp_);
            if (lockFd >= 0) break;
            file_.reset();
        } catch (const KestrelError&) {
            if (errno != EEXIST) throw;
        }
        if (attempt > 100)
            throw KestrelError("Cannot create a temporary file beside " + target_.string());
    }
    ScratchFiles::AddLocked(temp_, lockFd);
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
    ScratchFiles::Renamed(temp_, target_);
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
            const int lockFd = LockNewFile(file->Descriptor(), path);
            if (lockFd < 0) continue; // removed by a cleaner before it was locked
            ScratchFiles::AddLocked(path, lockFd);
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
