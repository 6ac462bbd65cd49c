#include "io/ResourceGrowth.h"

#include <map>
#include <mutex>
#include <set>
#include <unistd.h>

namespace kestrel {

namespace {

struct Recorded {
    std::mutex mutex;
    int scopes = 0;
    std::map<std::filesystem::path, uint64_t> lengths;
    std::set<std::filesystem::path> created;
};

// Each thread's imports are their own: the workers of a game folder import several archives at
// once, and one archive's failure cuts back only what its own import appended.
Recorded& Files() {
    thread_local Recorded recorded;
    return recorded;
}

} // namespace

void NoteResourceLength(const std::filesystem::path& path, uint64_t length) {
    Recorded& r = Files();
    const std::lock_guard<std::mutex> hold(r.mutex);
    if (r.scopes > 0) r.lengths.emplace(path, length);
}

void NoteResourceCreated(const std::filesystem::path& path) {
    Recorded& r = Files();
    const std::lock_guard<std::mutex> hold(r.mutex);
    if (r.scopes > 0) r.created.insert(path);
}

ResourceGrowthScope::ResourceGrowthScope() {
    Recorded& r = Files();
    const std::lock_guard<std::mutex> hold(r.mutex);
    if (r.scopes++ == 0) {
        r.lengths.clear();
        r.created.clear();
    }
}

void ResourceGrowthScope::Keep() {
    Recorded& r = Files();
    const std::lock_guard<std::mutex> hold(r.mutex);
    r.lengths.clear();
    r.created.clear();
}

ResourceGrowthScope::~ResourceGrowthScope() {
    Recorded& r = Files();
    const std::lock_guard<std::mutex> hold(r.mutex);
    if (--r.scopes > 0) return;
    for (const auto& path : r.created) {
        // Only pieces this import created exclusively are deleted.
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    for (const auto& [path, length] : r.lengths) {
        if (r.created.count(path) != 0) continue;
        // Best effort: a file that cannot be cut keeps bytes nothing refers to.
        [[maybe_unused]] const int cut = ::truncate(path.c_str(), static_cast<off_t>(length));
    }
    r.lengths.clear();
    r.created.clear();
}

} // namespace kestrel
