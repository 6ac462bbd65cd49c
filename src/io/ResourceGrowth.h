#pragma once
// Resource files (.resS, .resource) that an import appends edited pixels or sounds to, with their
// lengths before it. The appended bytes are only referred to once the archive is written; when
// the import fails instead, every such file is cut back to its old length, so a failed or
// repeated import never grows them.
#include <cstdint>
#include <filesystem>

namespace kestrel {

// Records `path` at `length` before something is appended to it; the first length recorded for
// a file during an import counts. Outside an import's scope nothing is recorded.
void NoteResourceLength(const std::filesystem::path& path, uint64_t length);

// The span of one import: when it ends without Keep(), every file recorded meanwhile is cut back
// to its recorded length.
class ResourceGrowthScope {
public:
    ResourceGrowthScope();
    ~ResourceGrowthScope();
    ResourceGrowthScope(const ResourceGrowthScope&) = delete;
    ResourceGrowthScope& operator=(const ResourceGrowthScope&) = delete;
    // The import succeeded: the appended bytes stay.
    void Keep();
};

} // namespace kestrel
