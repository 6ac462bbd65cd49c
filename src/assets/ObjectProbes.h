#pragma once
#include "assets/AssetsTypes.h"
#include "io/ByteSource.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// Bounded access to the bytes of one object. The first bytes (name field and the words the
// probes look at) are read at once; every read outside the object is refused, not attempted.
class ObjectBytes {
public:
    // The object [start, start + size) must lie inside the source.
    ObjectBytes(const ByteSource& source, uint64_t start, uint32_t size, bool bigEndian);

    [[nodiscard]] uint32_t Size() const { return size_; }
    // Copies count bytes at offset (from the object start); false when they are not all inside.
    bool Read(uint64_t offset, void* dst, uint64_t count) const;
    // A 32-bit value in the file's byte order.
    [[nodiscard]] std::optional<uint32_t> Word(uint64_t offset) const;
    // True when the object holds exactly these bytes at offset.
    [[nodiscard]] bool Holds(uint64_t offset, std::string_view bytes) const;
    [[nodiscard]] bool BigEndian() const { return big_; }

private:
    static constexpr size_t kHeadSize = 320; // length word, 256 name bytes, the probed words
    const ByteSource& source_;
    uint64_t start_;
    uint32_t size_;
    bool big_;
    size_t headLength_ = 0;
    std::array<uint8_t, kHeadSize> head_{};
};

// Results of the probes into one named object.
struct ProbeResult {
    uint32_t payloadOffset = 0;
    uint32_t payloadSize = 0;
    std::optional<int32_t> textureFormat; // set for Texture2D, Cubemap, ProceduralTexture
    std::string extension;                // the class extension, or the one a probe chose
};

// Runs the probe of the object's class. nameEnd is the object's NameHeaderSize.
ProbeResult ProbeObject(int32_t classId, const ObjectBytes& object, uint32_t nameEnd,
                        std::string extension, bool fontAsObject);

// The probes for files of serialized format 16 and later (engineVersion: the assets header's):
// a Shader is no text any more, so its payload is everything after the name; a texture's format
// lies after the fields those engines added in front of it; the other classes as ProbeObject.
ProbeResult ProbeModernObject(int32_t classId, const ObjectBytes& object, uint32_t nameEnd,
                              std::string extension, bool fontAsObject,
                              const std::string& engineVersion);

} // namespace kestrel
