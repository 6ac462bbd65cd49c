#include "io/ResourceFile.h"

#include "common/Error.h"
#include "io/CompositeSource.h"
#include "io/ResourceGrowth.h"
#include "io/Writer.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

bool IsRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

fs::path PieceName(const fs::path& file, size_t k) {
    fs::path piece = file;
    piece += ".split" + std::to_string(k);
    return piece;
}

// The pieces of `file` that lie beside it: ".split0", ".split1", ... while they exist.
std::vector<fs::path> PiecesOf(const fs::path& file) {
    std::vector<fs::path> pieces;
    while (IsRegularFile(PieceName(file, pieces.size())))
        pieces.push_back(PieceName(file, pieces.size()));
    return pieces;
}

// A ByteSource over bytes held by the caller.
class SpanSource : public ByteSource {
public:
    explicit SpanSource(std::span<const uint8_t> bytes)
        : ByteSource("appended bytes"), bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    size_t ReadAt(uint64_t pos, void* dst, size_t n) const override {
        if (pos >= bytes_.size()) return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - pos));
        std::copy_n(bytes_.data() + pos, n, static_cast<uint8_t*>(dst));
        return n;
    }

private:
    std::span<const uint8_t> bytes_;
};

// Copies `length` bytes of `from` starting at `pos` to `to` at `at`.
void CopyInto(const ByteSource& from, uint64_t pos, uint64_t length, OutputFile& to, uint64_t at) {
    constexpr uint64_t kChunk = 1 << 20;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min(kChunk, length)));
    for (uint64_t done = 0; done < length;) {
        const auto n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), length - done));
        if (from.ReadAt(pos + done, buffer.data(), n) != n) {
            throw KestrelError(from.Name() + ": shorter than its " + std::to_string(from.Size()) +
                               " bytes while it was copied into " + to.Name());
        }
        to.WriteAt(at + done, buffer.data(), n);
        done += n;
    }
}

} // namespace

bool ResourceFileExists(const fs::path& file) {
    return IsRegularFile(file) || IsRegularFile(PieceName(file, 0));
}

std::shared_ptr<const ByteSource> OpenResourceFile(const fs::path& file) {
    if (IsRegularFile(file) || !IsRegularFile(PieceName(file, 0))) return FileSource::Open(file);
    auto joined = std::make_shared<CompositeSource>(file.string());
    for (const fs::path& piece : PiecesOf(file))
        joined->Append(FileSource::Open(piece));
    return joined;
}

uint64_t AppendToResourceFile(const fs::path& file, const ByteSource& bytes) {
    const uint64_t length = bytes.Size();
    const std::vector<fs::path> pieces =
        IsRegularFile(file) ? std::vector<fs::path>{} : PiecesOf(file);
    if (pieces.empty()) {
        OutputFile target(file, OutputFile::Mode::ReadWrite);
        const uint64_t end = target.Size();
        NoteResourceLength(file, end);
        CopyInto(bytes, 0, length, target, end);
        target.Close();
        return end;
    }
    uint64_t offset = 0;
    for (size_t k = 0; k + 1 < pieces.size(); ++k) {
        std::error_code ec;
        const uint64_t size = fs::file_size(pieces[k], ec);
        if (ec)
            throw KestrelError("Cannot read the size of " + pieces[k].string() + ": " +
                               ec.message());
        offset += size;
    }
    uint64_t done = 0;
    {
        OutputFile last(pieces.back(), OutputFile::Mode::ReadWrite);
        const uint64_t size = last.Size();
        offset += size;
        const uint64_t room = size < kSplitPieceSize ? kSplitPieceSize - size : 0;
        const uint64_t n = std::min(room, length);
        if (n != 0) {
            NoteResourceLength(pieces.back(), size);
            CopyInto(bytes, 0, n, last, size);
            done = n;
        }
        last.Close();
    }
    for (size_t k = pieces.size(); done < length; ++k) {
        const fs::path piece = PieceName(file, k);
        // A new piece never replaces a file: a name taken meanwhile fails the import.
        OutputFile next(piece, OutputFile::Mode::CreateNew);
        NoteResourceCreated(piece);
        const uint64_t n = std::min(kSplitPieceSize, length - done);
        CopyInto(bytes, done, n, next, 0);
        next.Close();
        done += n;
    }
    return offset;
}

uint64_t AppendToResourceFile(const fs::path& file, std::span<const uint8_t> bytes) {
    return AppendToResourceFile(file, SpanSource(bytes));
}

} // namespace kestrel
