#include "io/ByteStreams.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

size_t SpanInput::Read(void* dst, size_t n) {
    n = std::min(n, bytes_.size() - pos_);
    if (n != 0) std::memcpy(dst, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
}

size_t SourceInput::Read(void* dst, size_t n) {
    if (pos_ >= end_) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, end_ - pos_));
    const size_t got = source_->ReadAt(pos_, dst, n);
    pos_ += got;
    return got;
}

void VectorOutput::Write(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + n);
}

uint64_t CopyStream(ByteInput& src, ByteOutput& dst) {
    constexpr size_t kBufferSize = size_t{256} * 1024;
    // Left uninitialised: every byte written out was read in first.
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBufferSize]);
    uint64_t total = 0;
    for (;;) {
        const size_t got = src.Read(buffer.get(), kBufferSize);
        if (got == 0) return total;
        dst.Write(buffer.get(), got);
        total += got;
    }
}

} // namespace kestrel
