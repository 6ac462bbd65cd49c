#include "texture/TextureHeader.h"

#include "common/Error.h"

#include <algorithm>
#include <optional>

namespace kestrel {
namespace {

// The 32-bit value at `offset` of the object in its file's byte order, when the object is long
// enough to hold it.
std::optional<uint32_t> ValueAt(Reader object, uint64_t offset) {
    if (object.End() - object.Begin() < offset + 4) return std::nullopt;
    object.Seek(object.Begin() + offset);
    return object.U32("texture layout probe");
}

bool ProductMatches(const Reader& object, uint64_t countOffset, uint64_t sizeOffset) {
    const auto q = ValueAt(object, 8);
    const auto count = ValueAt(object, countOffset);
    const auto size = ValueAt(object, sizeOffset);
    return q && count && size && static_cast<uint32_t>(*q * *count) == *size;
}

// Steps to the next multiple of 4 counted from the object start; an object that ends inside
// the padding simply ends there.
void SkipAlignment(Reader& object) {
    const uint64_t offset = object.Pos() - object.Begin();
    const uint64_t pad = (4 - offset % 4) % 4;
    object.Skip(std::min(pad, object.Remaining()), "alignment");
}

uint64_t NonNegative(int32_t value, const Reader& object, uint64_t at, const char* field) {
    if (value < 0) object.Fail(at, field, "negative length " + std::to_string(value));
    return static_cast<uint64_t>(value);
}

void ReadTrailingWords(Reader& object, TextureHeader& header) {
    while (object.Remaining() > 0) {
        uint8_t bytes[4] = {0, 0, 0, 0};
        object.TryBytes(bytes, 4);
        header.trailingWords.push_back(
            static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
            (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24));
    }
}

uint64_t NonNegativeLength(Reader& object, const char* field) {
    const uint64_t at = object.Pos();
    return NonNegative(object.I32(field), object, at, field);
}

// Walks the fields of a layout row, noting where the converters' fields lie.
TextureObject ReadFieldsLayout(Reader& object, const TextureLayoutRow& row) {
    TextureObject tex;
    tex.layout = TextureLayout::Fields;
    tex.MipCountLayout = true;
    TextureHeader& h = tex.header;
    TextureFieldPlaces& at = tex.places;
    const uint64_t begin = object.Begin();
    object.Seek(begin, "texture header");
    const auto here = [&] { return object.Pos() - begin; };
    bool streamed = false;
    for (const TexField field : row.fields.View()) {
        switch (field) {
        case TexField::Int32:
            object.Skip(4, "texture field");
            break;
        case TexField::Bool:
            object.Skip(1, "texture flag");
            break;
        case TexField::Align:
            SkipAlignment(object);
            break;
        case TexField::String:
        case TexField::ByteArray:
            object.Skip(NonNegativeLength(object, "texture field length"), "texture field");
            SkipAlignment(object);
            break;
        case TexField::Width:
            at.width = here();
            h.width = object.I32("texture width");
            break;
        case TexField::Height:
            at.height = here();
            h.height = object.I32("texture height");
            break;
        case TexField::CompleteImageSize:
            at.completeImageSize = here();
            h.completeImageSize = object.I32("complete image size");
            break;
        case TexField::Format:
            at.format = here();
            h.textureFormat = object.I32("texture format");
            break;
        case TexField::MipCount: {
            at.mipCount = here();
            const uint32_t mipCount = object.U32("mip count");
            h.mipField = {static_cast<uint8_t>(mipCount), static_cast<uint8_t>(mipCount >> 8),
                          static_cast<uint8_t>(mipCount >> 16),
                          static_cast<uint8_t>(mipCount >> 24)};
            break;
        }
        case TexField::MipFlag:
            at.mipCount = here();
            h.mipField = {object.U8("has-mipmaps flag")};
            tex.MipCountLayout = false;
            break;
        case TexField::ImageCount:
            at.imageCount = here();
            h.imageCount = object.I32("image count");
            break;
        case TexField::ImageData: {
            at.imageDataSize = here();
            const uint64_t size = NonNegativeLength(object, "image data size");
            h.dataSizes = {static_cast<int32_t>(size)};
            tex.imageStart = object.Pos();
            object.Skip(size, "image data");
            SkipAlignment(object);
            at.imageDataEnd = here();
            break;
        }
        case TexField::StreamData32:
        case TexField::StreamData64: {
            at.streamOffset = here();
            at.streamOffsetWidth = field == TexField::StreamData64 ? 8 : 4;
            tex.streamOffset = field == TexField::StreamData64 ? object.U64("stream offset")
                                                               : object.U32("stream offset");
            at.streamSize = here();
            tex.streamSize = object.U32("stream size");
            const uint64_t length = NonNegativeLength(object, "resource path length");
            tex.resource.pathLength = static_cast<int32_t>(length);
            const auto text = object.Bytes(length, "resource path");
            tex.resource.path.assign(text.begin(), text.end());
            SkipAlignment(object);
            streamed = h.dataSizes.at(0) == 0 && !tex.resource.path.empty();
            break;
        }
        }
    }
    tex.StreamedData = streamed;
    object.Seek(tex.imageStart);
    return tex;
}

} // namespace

TextureLayout ProbeTextureLayout(const Reader& object) {
    if (ProductMatches(object, 20, 52)) return TextureLayout::MipFlag;
    if (ProductMatches(object, 24, 56)) return TextureLayout::MipCount;
    if (ProductMatches(object, 24, 64)) return TextureLayout::Streamed;
    return TextureLayout::MipFlag;
}

TextureObject ReadTextureHeader(Reader& object, const TextureLayoutRow* row) {
    if (row != nullptr) return ReadFieldsLayout(object, *row);
    TextureObject tex;
    tex.layout = ProbeTextureLayout(object);
    tex.MipCountLayout = tex.layout != TextureLayout::MipFlag;
    tex.StreamedData = tex.layout == TextureLayout::Streamed;
    TextureHeader& h = tex.header;

    object.Seek(object.Begin(), "texture header");
    h.width = object.I32("texture width");
    h.height = object.I32("texture height");
    h.completeImageSize = object.I32("complete image size");
    h.textureFormat = object.I32("texture format");
    if (tex.MipCountLayout) {
        const uint32_t mipCount = object.U32("mip count");
        h.mipField = {static_cast<uint8_t>(mipCount), static_cast<uint8_t>(mipCount >> 8),
                      static_cast<uint8_t>(mipCount >> 16), static_cast<uint8_t>(mipCount >> 24)};
        h.flagBytes = object.Bytes(4, "texture flags");
    } else {
        h.mipField = {object.U8("has-mipmaps flag")};
        h.flagBytes = object.Bytes(3, "texture flags");
    }
    h.imageCount = object.I32("image count");
    for (auto& field : h.carriedFields)
        field = object.I32("texture settings");
    h.dataSizes.push_back(object.I32("image data size"));
    if (tex.StreamedData) {
        h.dataSizes.push_back(object.I32("stream offset"));
        h.dataSizes.push_back(object.I32("stream size"));
        const uint64_t at = object.Pos();
        tex.resource.pathLength = object.I32("resource path length");
        const uint64_t length =
            NonNegative(tex.resource.pathLength, object, at, "resource path length");
        const auto text = object.Bytes(length, "resource path");
        tex.resource.path.assign(text.begin(), text.end());
        SkipAlignment(object);
    }
    tex.imageStart = object.Pos();
    if (tex.StreamedData) {
        // Both are unsigned 32-bit values in the resource file.
        tex.streamOffset = static_cast<uint32_t>(h.dataSizes[1]);
        tex.streamSize = static_cast<uint32_t>(h.dataSizes[2]);
    } else {
        object.Skip(NonNegative(h.dataSizes[0], object, object.Pos() - 4, "image data size"),
                    "image data");
        SkipAlignment(object);
    }
    ReadTrailingWords(object, h);
    object.Seek(tex.imageStart);
    return tex;
}

void CheckTextureHeaderSizes(const TextureHeader& header) {
    if (header.width < 0 || header.height < 0 || header.completeImageSize < 0 ||
        header.imageCount < 0) {
        throw KestrelError("Texture sizes do not fit: width " + std::to_string(header.width) +
                           ", height " + std::to_string(header.height) + ", image size " +
                           std::to_string(header.completeImageSize) + ", images " +
                           std::to_string(header.imageCount));
    }
}

} // namespace kestrel
