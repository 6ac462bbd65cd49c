// The data area of a rewritten working file: inner files in file order, each moved by the size
// changes of those before it, the bytes between them kept as they were.
#include "bundle/BundleWriteDetail.h"
#include "common/Error.h"
#include "io/ByteSource.h"
#include "io/ByteStreams.h"
#include "io/Writer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <array>
#include <numeric>

namespace kestrel::bundle_write {

std::function<void(const std::string&)>& Hook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

void Step(const char* name) {
    if (Hook()) Hook()(name);
}

uint32_t Fit32(uint64_t value, const std::string& file, const std::string& what) {
    if (value > UINT32_MAX) {
        throw KestrelError(file + ": " + what + " of " + std::to_string(value) +
                           " bytes does not fit the bundle's 32-bit field");
    }
    return static_cast<uint32_t>(value);
}

namespace {

// Whether the kernel copies between files here; cleared once it says it cannot (another file
// system on one side, an old kernel), so that later stretches go the usual way at once.
std::atomic<bool> gKernelCopies{true};

// Has the kernel copy `stretch` to the end of `out` (no pass through this process's memory;
// on file systems that share blocks, no copy at all). Returns the bytes copied: fewer than the
// stretch when the kernel cannot do it. A full disk or a file-size limit is a write error.
uint64_t KernelCopy(const FileStretch& stretch, OutputFile& out, const std::string& sourceName) {
    if (!gKernelCopies) return 0;
    auto from = static_cast<loff_t>(stretch.offset);
    auto to = static_cast<loff_t>(out.Position());
    uint64_t done = 0;
    while (done < stretch.length) {
        const ssize_t n = ::copy_file_range(stretch.descriptor, &from, out.Descriptor(), &to,
                                            static_cast<size_t>(stretch.length - done), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                      errno == EOPNOTSUPP || errno == EBADF || errno == ETXTBSY)) {
            gKernelCopies = false;
            break;
        }
        if (n < 0) {
            throw KestrelError("Write error in " + out.Name() + ": " + std::strerror(errno), true);
        }
        if (n == 0) {
            throw KestrelError(sourceName + ": offset " + std::to_string(from) +
                               ": the file ended before the bytes it should hold");
        }
        done += static_cast<uint64_t>(n);
    }
    out.Seek(static_cast<uint64_t>(to));
    return done;
}

} // namespace

void CopyBytes(const std::shared_ptr<const ByteSource>& source, uint64_t pos, uint64_t size,
               OutputFile& out, WriteProgress& progress) {
    constexpr size_t kChunk = size_t{256} * 1024;
    std::vector<uint8_t> buffer;
    while (size > 0) {
        // Long stretches of open files go through the kernel, 16 MiB at a time for the progress.
        const std::optional<FileStretch> stretch =
            source->StretchAt(pos, std::min<uint64_t>(size, 64 * kChunk));
        if (stretch && stretch->length >= kChunk / 4) {
            const uint64_t copied = KernelCopy(*stretch, out, source->Name());
            if (copied > 0) {
                progress.Add(copied);
                pos += copied;
                size -= copied;
                continue;
            }
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(size, kChunk));
        if (buffer.size() < want) buffer.resize(want);
        const size_t got = source->ReadAt(pos, buffer.data(), want);
        if (got != want) {
            throw KestrelError(source->Name() + ": offset " + std::to_string(pos + got) +
                               ": the file ended before the bytes it should hold");
        }
        out.Write(buffer.data(), got);
        progress.Add(got);
        pos += got;
        size -= got;
    }
}

DataLayout PlanLayout(std::vector<LaidEntry> entries, const std::vector<InnerReplacement>& changes,
                      uint64_t begin, uint64_t oldEnd, const std::string& file) {
    for (const auto& change : changes) {
        if (change.entry >= entries.size() || !change.bytes) {
            throw KestrelError(file + ": no inner file number " + std::to_string(change.entry) +
                               " to replace");
        }
        if (entries[change.entry].replacement) {
            throw KestrelError(file + ": inner file number " + std::to_string(change.entry) +
                               " is replaced twice");
        }
        entries[change.entry].replacement = change.bytes;
    }
    std::vector<size_t> order(entries.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return entries[a].oldOffset < entries[b].oldOffset;
    });
    uint64_t pos = begin;
    int64_t shift = 0;
    for (size_t i : order) {
        LaidEntry& e = entries[i];
        if (e.oldOffset < pos || e.oldOffset > oldEnd || e.oldSize > oldEnd - e.oldOffset) {
            throw KestrelError(file + ": inner file number " + std::to_string(i) + " (" +
                               std::to_string(e.oldSize) + " bytes at " +
                               std::to_string(e.oldOffset) +
                               ") overlaps another inner file or the directory; the bundle "
                               "cannot be rewritten");
        }
        e.newSize = e.replacement ? e.replacement->Size() : e.oldSize;
        e.newOffset = static_cast<uint64_t>(static_cast<int64_t>(e.oldOffset) + shift);
        shift += static_cast<int64_t>(e.newSize) - static_cast<int64_t>(e.oldSize);
        pos = e.oldOffset + e.oldSize;
    }
    DataLayout layout;
    layout.entries = std::move(entries);
    layout.begin = begin;
    layout.oldEnd = oldEnd;
    layout.newEnd = static_cast<uint64_t>(static_cast<int64_t>(oldEnd) + shift);
    return layout;
}

void AppendDataArea(CompositeSource& out, const DataLayout& layout,
                    const std::shared_ptr<const ByteSource>& work, uint64_t dataStart) {
    std::vector<const LaidEntry*> order;
    for (const auto& e : layout.entries)
        order.push_back(&e);
    std::stable_sort(order.begin(), order.end(), [](const LaidEntry* a, const LaidEntry* b) {
        return a->oldOffset < b->oldOffset;
    });
    uint64_t pos = layout.begin;
    for (const LaidEntry* e : order) {
        out.Append(work, dataStart + pos, e->oldOffset - pos);
        if (e->replacement) {
            out.Append(e->replacement, 0, e->newSize);
        } else {
            out.Append(work, dataStart + e->oldOffset, e->oldSize);
        }
        pos = e->oldOffset + e->oldSize;
    }
    out.Append(work, dataStart + pos, layout.oldEnd - pos);
}

void WriteDataArea(const DataLayout& layout, const std::shared_ptr<const ByteSource>& work,
                   uint64_t dataStart, OutputFile& out, WriteProgress& progress) {
    const auto area = std::make_shared<CompositeSource>(work->Name());
    AppendDataArea(*area, layout, work, dataStart);
    CopyBytes(area, 0, area->Size(), out, progress);
}

} // namespace kestrel::bundle_write

namespace kestrel {

void SetArchiveWriteHookForTesting(std::function<void(const std::string& step)> hook) {
    bundle_write::Hook() = std::move(hook);
}

} // namespace kestrel
