#pragma once
#include "io/Reader.h"
#include "mesh/MeshLayout.h"
#include "mesh/ObjMeshSource.h"
#include "mesh/VertexFormats.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// A sub-mesh of engines 5.5 and later.
struct MeshSubMesh {
    uint32_t firstByte = 0;
    uint32_t indexCount = 0;
    int32_t topology = 0; // 0 triangles, 1 strip, 2 quads, 3 lines, 4 line strip, 5 points
    uint32_t baseVertex = 0;
    uint32_t firstVertex = 0;
    uint32_t vertexCount = 0;
};

struct MeshChannel {
    uint8_t stream = 0;
    uint8_t offset = 0;
    uint8_t format = 0;
    uint8_t dimension = 0; // the low four bits of the stored byte
};

// Where vertex data streamed out of the object lies (m_StreamData).
struct MeshStreamData {
    uint64_t offset = 0;
    uint32_t size = 0;
    std::string path;
};

// A Mesh object (class 43) of engines 5.5 and later, read by the layout row of its engine
// version, with the vertex layout derived from its channels: streams one after another, each
// starting on a 16-byte boundary, a vertex of a stream holding its channels' components.
class MeshObject final : public ObjMeshSource {
public:
    // Reads the object whose bytes after the name field are the window of `r`, from the window's
    // start, in the reader's byte order. Raises KestrelError on data that does not fit the window,
    // unknown vertex formats and channels that name no stream.
    void Read(Reader& r, const MeshLayout& layout);

    // Vertex data read from the resource file m_StreamData names.
    void SetVertexData(std::vector<uint8_t> data);
    // True when the vertex data lies in a resource file (m_StreamData with a path and vertices).
    [[nodiscard]] bool Streamed() const { return !streamData.path.empty() && vertexCount != 0; }

    const MeshLayout* layout = nullptr;
    Endian order = Endian::Little;
    std::vector<MeshSubMesh> subMeshes;
    uint8_t meshCompression = 0;
    int32_t indexFormat = 0; // 0: 16-bit indices, 1: 32-bit
    std::vector<uint8_t> indexBuffer;
    uint32_t vertexCount = 0;
    std::vector<MeshChannel> channels;
    std::vector<uint8_t> vertexData;
    MeshStreamData streamData;

    [[nodiscard]] uint64_t VertexTotal() const override { return vertexCount; }
    [[nodiscard]] uint64_t VertexDataSize() const override { return vertexData.size(); }
    [[nodiscard]] uint64_t IndexTotal() const override { return indexBuffer.size() / IndexSize(); }
    [[nodiscard]] uint64_t BytesPerVertex() const override;
    [[nodiscard]] uint64_t DataBytesPerVertex() const override;
    [[nodiscard]] uint64_t SubMeshCount() const override { return subMeshes.size(); }
    [[nodiscard]] ObjSubMesh SubMeshAt(uint64_t k) const override;
    [[nodiscard]] bool HasAttribute(MeshAttribute attribute) const override;
    [[nodiscard]] bool ReadAttribute(MeshAttribute attribute, uint64_t vertex, int count,
                                     float* out) const override;
    [[nodiscard]] uint32_t IndexAt(uint64_t position) const override;

private:
    [[nodiscard]] uint64_t IndexSize() const { return indexFormat == 1 ? 4 : 2; }
    const MeshChannel* ChannelFor(MeshAttribute attribute) const;
    void ReadSubMeshes(Reader& r);
    void ReadShapesAndBones(Reader& r);
    void ReadVertexData(Reader& r);
    void ReadTail(Reader& r);
    void ComputeStreams();

    std::vector<uint64_t> streamStrides_;
    std::vector<uint64_t> streamStarts_;
    std::vector<ComponentType> channelTypes_; // per channel; size 0 for empty channels
};

} // namespace kestrel
