#include "mesh/MeshClass.h"

#include "common/Error.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kestrel {

namespace {

// Record sizes of the arrays that are stepped over.
constexpr uint64_t kBlendShapeVertexSize = 40;
constexpr uint64_t kBlendShapeSize = 12;
constexpr uint64_t kFloatSize = 4;
constexpr uint64_t kMatrixSize = 64;
constexpr uint64_t kBoneInfluenceSize = 32;
constexpr uint64_t kChannelSize = 4;
constexpr uint64_t kStreamRecordSize4 = 12;
constexpr uint64_t kStreamRecordSize3 = 16;
// A blend-shape channel: name length, at least no name bytes, then three u32.
constexpr uint64_t kMinBlendChannelSize = 16;

// Sub-mesh record: five u32 common to all engines, one more (topology) from engine 4, two more
// (strip flag, triangle count) before it, and the bounding box.
uint64_t SubMeshRecordSize(MeshGeneration g) {
    return (g == MeshGeneration::Engine3 ? 6 : 5) * 4 + 24;
}

Tvector ReadByteVector(Reader& r, const char* field) {
    Tvector v;
    v.Data = r.AlignedBytes(field);
    v.Count = static_cast<uint32_t>(v.Data.size());
    return v;
}

TPackedBitVector ReadPackedBitVector(Reader& r, bool ranged) {
    TPackedBitVector v;
    v.NumItems = r.U32("packed vector item count");
    if (ranged) {
        v.Range = r.F32("packed vector range");
        v.Start = r.F32("packed vector start");
    }
    v.Data = ReadByteVector(r, "packed vector data");
    v.BitSize = r.U8("packed vector bit size");
    r.AlignFromBegin(4);
    return v;
}

} // namespace

MeshGeneration MeshGenerationOf(int32_t engineMajorVersion) {
    if (engineMajorVersion <= 3) return MeshGeneration::Engine3;
    return engineMajorVersion == 4 ? MeshGeneration::Engine4 : MeshGeneration::Engine5;
}

TMeshBase::ReadResult TMeshBase::Read(Reader& r, int32_t engineMajorVersion) {
    generation = MeshGenerationOf(engineMajorVersion);
    ReadSubMeshes(r);
    if (generation == MeshGeneration::Engine3) {
        MeshCompression = r.U8("mesh compression");
        r.AlignFromBegin(4);
        IndexBuffer = ReadByteVector(r, "index buffer");
        SkinCount = r.SkipArray(kBoneInfluenceSize, "skin");
        BindPoseCount = r.SkipArray(kMatrixSize, "bind poses");
    } else {
        ReadBlendShapesAndBones(r);
        MeshCompression = r.U8("mesh compression");
        if (MeshCompression != 0) return ReadResult::Compressed;
        if (generation == MeshGeneration::Engine4) StreamCompression = r.U8("stream compression");
        IsReadable = r.U8("readable flag");
        KeepVertices = r.U8("keep-vertices flag");
        KeepIndices = r.U8("keep-indices flag");
        r.AlignFromBegin(4);
        IndexBuffer = ReadByteVector(r, "index buffer");
        SkinCount = r.SkipArray(kBoneInfluenceSize, "skin");
    }
    ReadVertexData(r);
    ReadCompressedMesh(r);
    for (float& f : LocalAABB)
        f = r.F32("bounding box");
    MeshUsageFlags = r.U32("mesh usage flags");
    if (generation == MeshGeneration::Engine5) {
        BakedConvexCollisionSize = ReadByteVector(r, "baked convex collision mesh").Count;
        BakedTriangleCollisionSize = ReadByteVector(r, "baked triangle collision mesh").Count;
    }
    ComputeStrides();
    return ReadResult::Ok;
}

void TMeshBase::ReadSubMeshes(Reader& r) {
    const uint32_t count = r.Count(SubMeshRecordSize(generation), "sub-mesh count");
    SubMeshes.resize(count);
    for (TSubMesh& s : SubMeshes) {
        s.FirstByte = r.U32("sub-mesh first byte");
        s.IndexCount = r.U32("sub-mesh index count");
        if (generation == MeshGeneration::Engine3) {
            s.IsTriStrip = r.U32("sub-mesh strip flag");
            s.TriangleCount = r.U32("sub-mesh triangle count");
        } else {
            s.Topology = r.U32("sub-mesh topology");
        }
        s.FirstVertex = r.U32("sub-mesh first vertex");
        s.VertexCount = r.U32("sub-mesh vertex count");
        for (float& f : s.LocalAABB)
            f = r.F32("sub-mesh bounding box");
    }
}

void TMeshBase::ReadBlendShapesAndBones(Reader& r) {
    BlendShapeVertexCount = r.SkipArray(kBlendShapeVertexSize, "blend-shape vertices");
    BlendShapeCount = r.SkipArray(kBlendShapeSize, "blend shapes");
    BlendShapeChannelCount = r.Count(kMinBlendChannelSize, "blend-shape channel count");
    for (uint32_t i = 0; i < BlendShapeChannelCount; ++i) {
        const uint32_t nameLength = r.U32("blend-shape channel name length");
        r.Skip(AlignUp4(nameLength), "blend-shape channel name");
        r.Skip(12, "blend-shape channel");
    }
    BlendShapeFullWeightCount = r.SkipArray(kFloatSize, "blend-shape full weights");
    BindPoseCount = r.SkipArray(kMatrixSize, "bind poses");
    BoneNameHashCount = r.SkipArray(kFloatSize, "bone name hashes");
    RootBoneNameHash = r.U32("root bone name hash");
}

void TMeshBase::ReadVertexData(Reader& r) {
    CurrentChannels = r.U32("current channels");
    VertexCount = r.U32("vertex count");
    if (generation == MeshGeneration::Engine3) {
        r.Require(4 * kStreamRecordSize3, "vertex streams");
        for (uint32_t& stride : StreamStrides3) {
            r.U32("stream channel mask");
            r.U32("stream offset");
            stride = r.U32("stream stride");
            r.U32("stream alignment");
        }
    } else {
        const uint32_t count = r.Count(kChannelSize, "channel count");
        Channels.resize(count);
        for (TChannel& c : Channels) {
            c.Stream = r.U8("channel stream");
            c.Offset = r.U8("channel offset");
            c.Format = r.U8("channel format");
            c.Dimension = r.U8("channel dimension");
        }
        r.AlignFromBegin(4);
        if (generation == MeshGeneration::Engine4) {
            StreamRecordCount = r.SkipArray(kStreamRecordSize4, "vertex streams");
        }
    }
    Data = ReadByteVector(r, "vertex data");
}

void TMeshBase::ReadCompressedMesh(Reader& r) {
    const bool upTo4 = generation != MeshGeneration::Engine5;
    CompressedMesh.clear();
    CompressedMesh.push_back(ReadPackedBitVector(r, true));             // vertices
    CompressedMesh.push_back(ReadPackedBitVector(r, true));             // UV
    if (upTo4) CompressedMesh.push_back(ReadPackedBitVector(r, true));  // bind poses
    CompressedMesh.push_back(ReadPackedBitVector(r, true));             // normals
    CompressedMesh.push_back(ReadPackedBitVector(r, true));             // tangents
    CompressedMesh.push_back(ReadPackedBitVector(r, false));            // weights
    CompressedMesh.push_back(ReadPackedBitVector(r, false));            // normal signs
    CompressedMesh.push_back(ReadPackedBitVector(r, false));            // tangent signs
    if (!upTo4) CompressedMesh.push_back(ReadPackedBitVector(r, true)); // float colours
    CompressedMesh.push_back(ReadPackedBitVector(r, false));            // bone indices
    CompressedMesh.push_back(ReadPackedBitVector(r, false));            // triangles
    if (upTo4) CompressedMesh.push_back(ReadPackedBitVector(r, false)); // colours
    if (!upTo4) UVInfo = r.U32("UV info");
}

void TMeshBase::ComputeStrides() {
    StreamStrides.clear();
    StreamStarts.clear();
    if (generation == MeshGeneration::Engine3) {
        uint64_t stride = 0;
        for (uint32_t s : StreamStrides3)
            stride += s;
        StreamStrides.push_back(stride);
        StreamStarts.push_back(0);
        return;
    }
    // A channel's size is its component size (1 byte for the colour format 2, else 4) times
    // its dimension, padded to 4 bytes within the vertex of its stream.
    size_t streamCount = 1;
    for (const TChannel& c : Channels)
        streamCount = std::max<size_t>(streamCount, c.Stream + 1u);
    StreamStrides.assign(streamCount, 0);
    for (const TChannel& c : Channels) {
        const uint64_t size = (c.Format == 2 ? 1u : 4u) * static_cast<uint64_t>(c.Dimension);
        StreamStrides[c.Stream] += AlignUp4(size);
    }
    // The streams follow one another in the vertex data.
    uint64_t start = 0;
    for (uint64_t stride : StreamStrides) {
        StreamStarts.push_back(start);
        start += stride * VertexCount;
    }
}

uint64_t TMeshBase::BytesPerVertex() const {
    uint64_t sum = 0;
    for (uint64_t s : StreamStrides)
        sum += s;
    return sum;
}

uint64_t TMeshBase::DataBytesPerVertex() const {
    return VertexCount == 0 ? 0 : Data.Data.size() / VertexCount;
}

bool TMeshBase::HasAttribute(size_t channel) const {
    if (generation == MeshGeneration::Engine3) return true;
    return channel < Channels.size() && Channels[channel].Dimension != 0;
}

int64_t TMeshBase::AttributeOffset(size_t channel, uint64_t vertex, uint64_t byteCount) const {
    const uint64_t size = Data.Data.size();
    uint64_t start = 0;
    uint64_t stride = 0;
    uint64_t within = 0;
    if (generation == MeshGeneration::Engine3) {
        // One interleaved stream: position, normal, then the first texture coordinates.
        stride = BytesPerVertex();
        within = channel == kPositionChannel ? 0 : channel == kNormalChannel ? 12 : 24;
    } else {
        if (channel >= Channels.size()) return -1;
        const TChannel& c = Channels[channel];
        start = StreamStarts[c.Stream];
        stride = StreamStrides[c.Stream];
        within = c.Offset;
    }
    // start + stride * vertex + within + byteCount <= size, without overflow.
    if (start > size || within > size - start || byteCount > size - start - within) return -1;
    const uint64_t room = size - start - within - byteCount;
    if (vertex != 0 && stride > room / vertex) return -1;
    return static_cast<int64_t>(start + stride * vertex + within);
}

uint16_t TMeshBase::IndexAt(uint64_t position) const {
    return LoadU16(IndexBuffer.Data.data() + 2 * position, Endian::Little);
}

float TMeshBase::DataFloat(uint64_t offset) const {
    const uint32_t bits = LoadU32(Data.Data.data() + offset, Endian::Little);
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

} // namespace kestrel
