#pragma once
#include "io/ByteOrder.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// Appends values in an explicit byte order to a byte buffer; PutAt rewrites earlier fields.
class Writer {
public:
    explicit Writer(Endian order = Endian::Little) : order_(order) {}
    void SetOrder(Endian order) { order_ = order; }
    Endian Order() const { return order_; }

    void U8(uint8_t v) { bytes_.push_back(v); }
    void U16(uint16_t v);
    void U32(uint32_t v);
    void U64(uint64_t v);
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void F32(float v);
    void U32BE(uint32_t v);
    void U64BE(uint64_t v);
    void U32LE(uint32_t v);
    void U64LE(uint64_t v);
    void U16LE(uint16_t v);
    void Bytes(const void* data, size_t count);
    void Bytes(std::string_view s) { Bytes(s.data(), s.size()); }
    void CString(std::string_view s); // the text and its NUL
    void Zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    // Pads with zeros to a multiple of 4 counted from base.
    void Align4(size_t base = 0);
    void PutU32At(size_t pos, uint32_t v); // in the writer's order
    void PutU64At(size_t pos, uint64_t v); // in the writer's order
    void PutU32BEAt(size_t pos, uint32_t v);
    void PutU64BEAt(size_t pos, uint64_t v);

    size_t Size() const { return bytes_.size(); }
    const std::vector<uint8_t>& Data() const { return bytes_; }
    std::vector<uint8_t>& Data() { return bytes_; }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
    Endian order_;
};

// A file opened for writing. Every failure raises a KestrelError naming the file.
class OutputFile {
public:
    // Create truncates or creates; CreateNew creates a file that must not exist yet and does not
    // follow a link at the name; ReadWrite opens an existing file.
    enum class Mode { Create, CreateNew, ReadWrite };
    OutputFile(const std::filesystem::path& path, Mode mode = Mode::Create);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const void* data, size_t count);
    void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }
    void WriteAt(uint64_t pos, const void* data, size_t count);
    uint64_t Position() const { return pos_; }
    void Seek(uint64_t pos) { pos_ = pos; }
    uint64_t Size() const;
    void Close();
    // Flushes the file's data to the disk (fsync).
    void Sync();
    const std::string& Name() const { return name_; }
    int Descriptor() const { return fd_; }

private:
    std::string name_;
    int fd_ = -1;
    uint64_t pos_ = 0;
};

// Writes a whole file at once, through the atomic output file: complete under its name or absent.
void WriteWholeFile(const std::filesystem::path& path, const void* data, size_t count);

} // namespace kestrel
