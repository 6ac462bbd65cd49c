#pragma once
// Resource files (.resS, .resource, or their pieces) that an import appends edited pixels or
// sounds to, with their lengths before it, and the pieces it adds. The appended bytes are only
// referred to once the archive is written; when the import fails instead, every such file is cut
// back to its old length and every added piece is deleted, so a failed or repeated import never
// grows them.
#include <cstdint>
#include <filesystem>

namespace kestrel {

// Records `path` at `length` before something is appended to it; the first length recorded for
// a file during an import counts. Outside an import's scope nothing is recorded.
void NoteResourceLength(const std::filesystem::path& path, uint64_t length);

// Records `path` as a piece this import created; it is deleted when the import fails. Outside an
// import's scope nothing is recorded.
void NoteResourceCreated(const std::filesystem::path& path);

// The span of one import: when it ends without Keep(), every file recorded meanwhile is cut back
// to its recorded length, and every piece created meanwhile is deleted.
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
