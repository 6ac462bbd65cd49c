#include "io/CompositeSource.h"

#include "common/Error.h"
#include "io/Reader.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace kestrel {

void CompositeSource::Append(std::shared_ptr<const ByteSource> source, uint64_t begin,
                             uint64_t length) {
    if (begin > source->Size() || length > source->Size() - begin) {
        throw KestrelError("Internal error: range " + HexOffset(begin) + "+" +
                           std::to_string(length) + " lies outside " + source->Name());
    }
    if (length == 0) return;
    pieces_.push_back({size_, std::move(source), begin, length});
    size_ += length;
}

void CompositeSource::Append(std::shared_ptr<const ByteSource> source) {
    const uint64_t size = source->Size();
    Append(std::move(source), 0, size);
}

void CompositeSource::Append(std::vector<uint8_t> bytes) {
    if (bytes.empty()) return;
    Append(std::make_shared<MemorySource>(Name(), std::move(bytes)));
}

size_t CompositeSource::ReadAt(uint64_t pos, void* dst, size_t n) const {
    if (pos >= size_) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, size_ - pos));
    // The last piece that starts at or before pos.
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), pos,
                               [](uint64_t p, const Piece& piece) { return p < piece.start; });
    --it;
    auto* out = static_cast<uint8_t*>(dst);
    size_t done = 0;
    for (; done < n; ++it) {
        const uint64_t inPiece = pos + done - it->start;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n - done, it->length - inPiece));
        const size_t got = it->source->ReadAt(it->begin + inPiece, out + done, want);
        if (got != want) {
            throw KestrelError(it->source->Name() + " changed while it was being read: offset " +
                               HexOffset(it->begin + inPiece + got) + " is past its end now");
        }
        done += got;
    }
    return done;
}

namespace {

std::atomic<uint64_t> gPathSourceIds{0};

// The file a thread's PathSource read last, kept open for its next read.
struct LastOpened {
    uint64_t id = 0;
    std::shared_ptr<FileSource> file;
};
thread_local LastOpened tLastOpened;

} // namespace

std::optional<FileStretch> CompositeSource::StretchAt(uint64_t pos, uint64_t n) const {
    if (pos >= size_ || n == 0) return std::nullopt;
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), pos,
                               [](uint64_t p, const Piece& piece) { return p < piece.start; });
    --it;
    const uint64_t inPiece = pos - it->start;
    return it->source->StretchAt(it->begin + inPiece, std::min(n, it->length - inPiece));
}

PathSource::PathSource(std::filesystem::path path)
    : ByteSource(path.string()), path_(std::move(path)), id_(++gPathSourceIds) {
    LastOpened& last = tLastOpened;
    last.file = FileSource::Open(path_);
    last.id = id_;
    size_ = last.file->Size();
}

size_t PathSource::ReadAt(uint64_t pos, void* dst, size_t n) const {
    LastOpened& last = tLastOpened;
    if (last.id != id_) {
        last.file.reset();
        last.file = FileSource::Open(path_);
        last.id = id_;
        if (last.file->Size() != size_) {
            const uint64_t now = last.file->Size();
            last = {};
            throw KestrelError(Name() + " changed while it was being imported: it holds " +
                               std::to_string(now) + " bytes instead of " + std::to_string(size_));
        }
    }
    return last.file->ReadAt(pos, dst, n);
}

bool SameBytes(const ByteSource& a, uint64_t posA, const ByteSource& b, uint64_t posB,
               uint64_t length) {
    constexpr size_t kChunk = size_t{256} * 1024;
    std::vector<uint8_t> bufA(static_cast<size_t>(std::min<uint64_t>(length, kChunk)));
    std::vector<uint8_t> bufB(bufA.size());
    while (length != 0) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(length, bufA.size()));
        if (a.ReadAt(posA, bufA.data(), piece) != piece) return false;
        if (b.ReadAt(posB, bufB.data(), piece) != piece) return false;
        if (std::memcmp(bufA.data(), bufB.data(), piece) != 0) return false;
        posA += piece;
        posB += piece;
        length -= piece;
    }
    return true;
}

} // namespace kestrel
