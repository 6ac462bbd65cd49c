#include "mesh/MeshObject.h"

#include "common/Error.h"

#include <algorithm>
#include <string>

namespace kestrel {
namespace {

constexpr uint64_t kAabbSize = 24;
constexpr uint64_t kBlendShapeVertexSize = 40;
constexpr uint64_t kMatrixSize = 64;
constexpr uint64_t kBoneInfluenceSize = 32;
// Streams of the vertex data start on this boundary.
constexpr uint64_t kStreamAlign = 16;

void SkipPackedVector(Reader& r, bool ranged) {
    r.U32("packed vector item count");
    if (ranged) r.Skip(8, "packed vector range and start");
    r.SkipArray(1, "packed vector data");
    r.U8("packed vector bit size");
    r.AlignFromBegin(4);
}

uint64_t AlignUp(uint64_t n, uint64_t a) {
    return (n + a - 1) / a * a;
}

} // namespace

void MeshObject::Read(Reader& r, const MeshLayout& rowLayout) {
    layout = &rowLayout;
    order = r.Order();
    ReadSubMeshes(r);
    ReadShapesAndBones(r);
    meshCompression = r.U8("mesh compression");
    r.Skip(3, "readable and keep flags");
    r.AlignFromBegin(4);
    if (layout->Has(kIndexFormat) ||
        (layout->Has(kIndexFormatWhenUncompressed) && meshCompression == 0)) {
        indexFormat = r.I32("index format");
    }
    indexBuffer = r.AlignedBytes("index buffer");
    if (layout->Has(kSkin)) r.SkipArray(kBoneInfluenceSize, "skin");
    ReadVertexData(r);
    ReadTail(r);
    ComputeStreams();
}

void MeshObject::ReadSubMeshes(Reader& r) {
    const uint64_t recordSize = uint64_t{layout->Has(kSubMeshBaseVertex) ? 6u : 5u} * 4 + kAabbSize;
    const uint32_t count = r.Count(recordSize, "sub-mesh count");
    subMeshes.resize(count);
    for (MeshSubMesh& s : subMeshes) {
        s.firstByte = r.U32("sub-mesh first byte");
        s.indexCount = r.U32("sub-mesh index count");
        s.topology = r.I32("sub-mesh topology");
        if (layout->Has(kSubMeshBaseVertex)) s.baseVertex = r.U32("sub-mesh base vertex");
        s.firstVertex = r.U32("sub-mesh first vertex");
        s.vertexCount = r.U32("sub-mesh vertex count");
        r.Skip(kAabbSize, "sub-mesh bounding box");
    }
}

void MeshObject::ReadShapesAndBones(Reader& r) {
    r.SkipArray(kBlendShapeVertexSize, "blend-shape vertices");
    // A blend shape: first vertex, vertex count, two flags, padded to 12 bytes.
    r.SkipArray(12, "blend shapes");
    const uint32_t channelCount = r.Count(16, "blend-shape channel count");
    for (uint32_t i = 0; i < channelCount; ++i) {
        r.SkipArray(1, "blend-shape channel name");
        r.Skip(12, "blend-shape channel");
    }
    r.SkipArray(4, "blend-shape full weights");
    r.SkipArray(kMatrixSize, "bind poses");
    r.SkipArray(4, "bone name hashes");
    r.U32("root bone name hash");
    if (layout->Has(kBonesAabb)) {
        r.SkipArray(kAabbSize, "bone bounding boxes");
        r.SkipArray(4, "variable bone count weights");
    }
}

void MeshObject::ReadVertexData(Reader& r) {
    if (layout->Has(kCurrentChannels)) r.U32("current channels");
    vertexCount = r.U32("vertex count");
    const uint32_t count = r.Count(4, "channel count");
    channels.resize(count);
    for (MeshChannel& c : channels) {
        c.stream = r.U8("channel stream");
        c.offset = r.U8("channel offset");
        c.format = r.U8("channel format");
        c.dimension = r.U8("channel dimension") & 0x0F;
    }
    r.AlignFromBegin(4);
    vertexData = r.AlignedBytes("vertex data");
}

void MeshObject::ReadTail(Reader& r) {
    SkipPackedVector(r, true);  // vertices
    SkipPackedVector(r, true);  // UV
    SkipPackedVector(r, true);  // normals
    SkipPackedVector(r, true);  // tangents
    SkipPackedVector(r, false); // weights
    SkipPackedVector(r, false); // normal signs
    SkipPackedVector(r, false); // tangent signs
    SkipPackedVector(r, true);  // float colours
    SkipPackedVector(r, false); // bone indices
    SkipPackedVector(r, false); // triangles
    r.U32("UV info");
    r.Skip(kAabbSize, "bounding box");
    r.U32("mesh usage flags");
    if (layout->Has(kCookingOptions)) r.U32("cooking options");
    r.SkipArray(1, "baked convex collision mesh");
    r.SkipArray(1, "baked triangle collision mesh");
    if (layout->Has(kMeshMetrics)) r.Skip(8, "mesh metrics");
    if (layout->Has(kStreamData)) {
        r.AlignFromBegin(4);
        streamData.offset = layout->Has(kStreamOffset64) ? r.U64("stream data offset")
                                                         : r.U32("stream data offset");
        streamData.size = r.U32("stream data size");
        streamData.path = r.AlignedString("stream data path");
    }
}

void MeshObject::SetVertexData(std::vector<uint8_t> data) {
    vertexData = std::move(data);
}

void MeshObject::ComputeStreams() {
    size_t streamCount = 1;
    channelTypes_.assign(channels.size(), ComponentType{ComponentKind::Float32, 0});
    for (size_t i = 0; i < channels.size(); ++i) {
        const MeshChannel& c = channels[i];
        if (c.dimension == 0) continue;
        const auto type = ComponentTypeOf(layout->formats, c.format);
        if (!type) {
            throw KestrelError("vertex channel " + std::to_string(i) + " has the unknown format " +
                               std::to_string(c.format));
        }
        channelTypes_[i] = *type;
        streamCount = std::max<size_t>(streamCount, c.stream + size_t{1});
    }
    streamStrides_.assign(streamCount, 0);
    for (size_t i = 0; i < channels.size(); ++i) {
        MeshChannel& c = channels[i];
        if (c.dimension == 0) continue;
        // Before 2018 a colour channel of the colour format may say dimension 1 for its four
        // bytes.
        if (!layout->Has(kChannels2018) && i == 2 && c.format == 2) c.dimension = 4;
        streamStrides_[c.stream] += uint64_t{c.dimension} * channelTypes_[i].size;
    }
    streamStarts_.clear();
    uint64_t start = 0;
    for (uint64_t stride : streamStrides_) {
        streamStarts_.push_back(start);
        start = AlignUp(start + stride * vertexCount, kStreamAlign);
    }
}

uint64_t MeshObject::BytesPerVertex() const {
    uint64_t sum = 0;
    for (uint64_t s : streamStrides_)
        sum += s;
    return sum;
}

uint64_t MeshObject::DataBytesPerVertex() const {
    return vertexCount == 0 ? 0 : vertexData.size() / vertexCount;
}

ObjSubMesh MeshObject::SubMeshAt(uint64_t k) const {
    const MeshSubMesh& s = subMeshes[k];
    ObjSubMesh o;
    o.firstIndex = s.firstByte / IndexSize();
    o.firstFace = o.firstIndex / 3;
    o.indexCount = s.indexCount;
    o.firstVertex = s.firstVertex;
    o.vertexCount = s.vertexCount;
    o.baseVertex = s.baseVertex;
    switch (s.topology) {
    case 0:
        o.kind = FaceKind::TriangleList;
        o.faceCount = s.indexCount / 3;
        break;
    case 1:
        o.kind = FaceKind::TriangleStrip;
        o.faceCount = s.indexCount >= 3 ? s.indexCount - 2 : 0;
        break;
    case 2:
        o.kind = FaceKind::Quads;
        o.faceCount = uint64_t{s.indexCount / 4} * 2;
        break;
    default: // lines and points have no faces
        o.kind = FaceKind::None;
        o.faceCount = 0;
        break;
    }
    return o;
}

const MeshChannel* MeshObject::ChannelFor(MeshAttribute attribute) const {
    const MeshChannels numbers = ChannelsOf(*layout);
    const uint8_t n = attribute == MeshAttribute::Position ? numbers.position
                      : attribute == MeshAttribute::Normal ? numbers.normal
                                                           : numbers.texCoord0;
    if (n >= channels.size() || channels[n].dimension == 0) return nullptr;
    return &channels[n];
}

bool MeshObject::HasAttribute(MeshAttribute attribute) const {
    return ChannelFor(attribute) != nullptr;
}

bool MeshObject::ReadAttribute(MeshAttribute attribute, uint64_t vertex, int count,
                               float* out) const {
    const MeshChannel* c = ChannelFor(attribute);
    if (c == nullptr) return false;
    const ComponentType type = channelTypes_[static_cast<size_t>(c - channels.data())];
    const uint64_t used = std::min<uint64_t>(static_cast<uint64_t>(count), c->dimension);
    const uint64_t size = vertexData.size();
    const uint64_t start = streamStarts_[c->stream];
    const uint64_t stride = streamStrides_[c->stream];
    const uint64_t need = used * type.size;
    // start + stride * vertex + offset + need <= size, without overflow.
    if (start > size || c->offset > size - start || need > size - start - c->offset) return false;
    const uint64_t room = size - start - c->offset - need;
    if (vertex != 0 && stride > room / vertex) return false;
    const uint64_t at = start + stride * vertex + c->offset;
    for (int k = 0; k < count; ++k) {
        out[k] =
            static_cast<uint64_t>(k) < used
                ? DecodeComponent(type, vertexData.data() + at + uint64_t{type.size} * k, order)
                : 0.0f;
    }
    return true;
}

uint32_t MeshObject::IndexAt(uint64_t position) const {
    const uint8_t* p = indexBuffer.data() + IndexSize() * position;
    return static_cast<uint32_t>(LoadUnsigned(p, static_cast<unsigned>(IndexSize()), order));
}

} // namespace kestrel
