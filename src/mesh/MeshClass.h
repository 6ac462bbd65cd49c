#pragma once
#include "io/Reader.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kestrel {

// A serialized array: its element count and, for the arrays the OBJ export uses, its bytes.
struct Tvector {
    uint32_t Count = 0;
    std::vector<uint8_t> Data;
};

// The engine's packed bit vector of the compressed-mesh block. Range and Start are stored only
// by the ranged (float) variants.
struct TPackedBitVector {
    uint32_t NumItems = 0;
    float Range = 0;
    float Start = 0;
    Tvector Data;
    uint8_t BitSize = 0;
};

struct TSubMesh {
    uint32_t FirstByte = 0; // byte offset of the first index in the index buffer
    uint32_t IndexCount = 0;
    uint32_t Topology = 0;      // engines 4 and later
    uint32_t IsTriStrip = 0;    // engines 3 and earlier
    uint32_t TriangleCount = 0; // engines 3 and earlier
    uint32_t FirstVertex = 0;
    uint32_t VertexCount = 0;
    std::array<float, 6> LocalAABB{};
};

// One vertex attribute of engines 4 and later: which stream holds it and where in a vertex.
struct TChannel {
    uint8_t Stream = 0;
    uint8_t Offset = 0;
    uint8_t Format = 0;
    uint8_t Dimension = 0;
};

// The engine generation decides the Mesh object's field layout.
enum class MeshGeneration { Engine3, Engine4, Engine5 };
MeshGeneration MeshGenerationOf(int32_t engineMajorVersion);

// Channel numbers of the attributes the OBJ export writes.
inline constexpr size_t kPositionChannel = 0;
inline constexpr size_t kNormalChannel = 1;
inline constexpr size_t kTexCoordChannel = 3;

// The fields of a serialized Mesh object (class 43), read in the order the engine wrote them,
// and the vertex layout derived from them. Arrays the OBJ export does not need are stepped over
// and only their element counts are kept.
class TMeshBase {
public:
    enum class ReadResult { Ok, Compressed };

    // Reads the object whose bytes after the name field are the window of `r`, starting at the
    // window's start. Returns Compressed, with the rest unread, when an engine-4-or-later mesh
    // stores compressed vertex data. Raises KestrelError on data that does not fit the window.
    ReadResult Read(Reader& r, int32_t engineMajorVersion);

    MeshGeneration generation = MeshGeneration::Engine5;
    std::vector<TSubMesh> SubMeshes;

    uint32_t BlendShapeVertexCount = 0;
    uint32_t BlendShapeCount = 0;
    uint32_t BlendShapeChannelCount = 0;
    uint32_t BlendShapeFullWeightCount = 0;
    uint32_t BindPoseCount = 0;
    uint32_t BoneNameHashCount = 0;
    uint32_t RootBoneNameHash = 0;
    uint8_t MeshCompression = 0;
    uint8_t StreamCompression = 0;
    uint8_t IsReadable = 0;
    uint8_t KeepVertices = 0;
    uint8_t KeepIndices = 0;
    Tvector IndexBuffer;
    uint32_t SkinCount = 0;

    uint32_t CurrentChannels = 0;
    uint32_t VertexCount = 0;
    std::array<uint32_t, 4> StreamStrides3{}; // engines 3 and earlier: Stride of each stream
    std::vector<TChannel> Channels;           // engines 4 and later
    uint32_t StreamRecordCount = 0;           // engine 4 only
    Tvector Data;                             // the vertex data

    std::vector<TPackedBitVector> CompressedMesh;
    uint32_t UVInfo = 0;
    std::array<float, 6> LocalAABB{};
    uint32_t MeshUsageFlags = 0;
    uint32_t BakedConvexCollisionSize = 0;
    uint32_t BakedTriangleCollisionSize = 0;

    // Derived vertex layout.
    std::vector<uint64_t> StreamStrides; // one entry for engines 3 and earlier
    std::vector<uint64_t> StreamStarts;  // byte offset of each stream inside Data

    uint64_t IndexTotal() const { return IndexBuffer.Data.size() / 2; }
    uint64_t FaceTotal() const { return IndexBuffer.Data.size() / 6; }
    // Sum of all stream strides (a vertex's bytes across every stream).
    uint64_t BytesPerVertex() const;
    // Byte length of the vertex data divided by VertexCount (0 without vertices).
    uint64_t DataBytesPerVertex() const;

    // False for a channel the mesh does not store (missing, or of dimension 0).
    bool HasAttribute(size_t channel) const;
    // Offset inside Data of a vertex attribute (channel 0, 1 or 3), or -1 when the attribute of
    // vertex `vertex` would not lie inside Data (byteCount bytes are read there).
    int64_t AttributeOffset(size_t channel, uint64_t vertex, uint64_t byteCount) const;
    // Index-buffer value at a 16-bit position; the caller checks position < IndexTotal().
    uint16_t IndexAt(uint64_t position) const;
    // A little-endian float32 of Data at a checked offset.
    float DataFloat(uint64_t offset) const;

private:
    void ReadSubMeshes(Reader& r);
    void ReadBlendShapesAndBones(Reader& r);
    void ReadVertexData(Reader& r);
    void ReadCompressedMesh(Reader& r);
    void ComputeStrides();
};

} // namespace kestrel
