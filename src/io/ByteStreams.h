#pragma once
#include "io/ByteSource.h"
#include "io/Writer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kestrel {

// Sequential byte streams for the codecs: they read and write in chunks, so a codec can move an
// archive of any size through a fixed amount of memory.
class ByteInput {
public:
    virtual ~ByteInput() = default;
    // Copies up to n bytes; returns how many were copied (0 only at the end of the input).
    virtual size_t Read(void* dst, size_t n) = 0;
};

class ByteOutput {
public:
    virtual ~ByteOutput() = default;
    virtual void Write(const void* data, size_t n) = 0;
};

class SpanInput : public ByteInput {
public:
    explicit SpanInput(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    size_t Read(void* dst, size_t n) override;
    size_t Consumed() const { return pos_; }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

// The range [begin, end) of a byte source; the caller checks that the range lies in the source.
class SourceInput : public ByteInput {
public:
    SourceInput(std::shared_ptr<const ByteSource> source, uint64_t begin, uint64_t end)
        : source_(std::move(source)), pos_(begin), end_(end) {}
    size_t Read(void* dst, size_t n) override;
    uint64_t Pos() const { return pos_; }

private:
    std::shared_ptr<const ByteSource> source_;
    uint64_t pos_;
    uint64_t end_;
};

class VectorOutput : public ByteOutput {
public:
    explicit VectorOutput(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    void Write(const void* data, size_t n) override;

private:
    std::vector<uint8_t>& bytes_;
};

class FileOutput : public ByteOutput {
public:
    explicit FileOutput(OutputFile& file) : file_(file) {}
    void Write(const void* data, size_t n) override { file_.Write(data, n); }

private:
    OutputFile& file_;
};

// Moves everything `src` holds to `dst` through a fixed buffer; returns the byte count.
uint64_t CopyStream(ByteInput& src, ByteOutput& dst);

} // namespace kestrel
