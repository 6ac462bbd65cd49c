#include "io/ResourceGrowth.h"

#include <map>
#include <mutex>
#include <unistd.h>

namespace kestrel {

namespace {

struct Recorded {
    std::mutex mutex;
    int scopes = 0;
    std::map<std::filesystem::path, uint64_t> lengths;
};

Recorded& Files() {
    static Recorded recorded;
    return recorded;
}

} // namespace

void NoteResourceLength(const std::filesystem::path& path, uint64_t length) {
    Recorded& r = Files();
    const std::lock_guard<std::mutex> hold(r.mutex);
    if (r.scopes > 0) r.lengths.emplace(path, length);
}

ResourceGrowthScope::ResourceGrowthScope() {
    Recorded& r = Files();
    const std::lock_guard<std::mutex> hold(r.mutex);
    if (r.scopes++ == 0) r.lengths.clear();
}

void ResourceGrowthScope::Keep() {
    Recorded& r = Files();
    const std::lock_guard<std::mutex> hold(r.mutex);
    r.lengths.clear();
}

ResourceGrowthScope::~ResourceGrowthScope() {
    Recorded& r = Files();
    const std::lock_guard<std::mutex> hold(r.mutex);
    if (--r.scopes > 0) return;
    for (const auto& [path, length] : r.lengths) {
        // Best effort: a file that cannot be cut keeps bytes nothing refers to.
        [[maybe_unused]] const int cut = ::truncate(path.c_str(), static_cast<off_t>(length));
    }
    r.lengths.clear();
}

} // namespace kestrel
