#include "support/TextureObjects.h"

#include <algorithm>

#include "io/ByteSource.h"
#include "io/Writer.h"

#include <array>
#include <cstdio>
#include <memory>
#include <sstream>

namespace kestrel::test {
namespace {

// Carried fields as the engine writes them (dimension, filter, aniso, mip bias, wrap, lightmap
// format, colour space), so no probe value matches by accident.
constexpr std::array<int32_t, 7> kCarried = {2, 1, 1, 0, 1, 0, 1};

void WriteTextureFields(Writer& w, const TextureObjectSpec& plan, int32_t completeSize) {
    w.I32(plan.width);
    w.I32(plan.height);
    w.I32(completeSize);
    w.I32(plan.format);
    if (plan.layout == TextureLayout::MipFlag) {
        w.U8(static_cast<uint8_t>(plan.mip));
        // Readable, read allowed, padding.
        const uint32_t flags = plan.flagBytes.value_or(0x000001);
        for (int i = 0; i < 3; ++i)
            w.U8(static_cast<uint8_t>(flags >> (8 * i)));
    } else {
        w.U32(plan.mip);
        w.U32LE(plan.flagBytes.value_or(0x00000100));
    }
    w.I32(plan.imageCount);
    for (int32_t field : plan.carriedFields.value_or(kCarried))
        w.I32(field);
}

std::string Quote(const std::filesystem::path& path) {
    std::string out = "'";
    for (char c : path.string()) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string RunCapture(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return {};
    std::string out;
    char buf[4096];
    size_t got = 0;
    while ((got = std::fread(buf, 1, sizeof buf, pipe.get())) > 0)
        out.append(buf, got);
    return out;
}

// A 4 x 4 colour block: colour0 red, colour1 blue (red > blue as RGB565: four-colour mode);
// each texel row all red (index 0) or all blue (index 1).
void PutColourBlock(std::vector<uint8_t>& out, const std::array<bool, 4>& rowIsRed) {
    out.insert(out.end(), {0x00, 0xF8, 0x1F, 0x00});
    for (bool red : rowIsRed)
        out.push_back(red ? 0x00 : 0x55);
}

std::vector<uint8_t> TwoBandBlocks(int w, int h, bool withAlpha) {
    std::vector<uint8_t> out;
    for (int by = 0; by < h / 4; ++by) {
        std::array<bool, 4> rows{};
        for (int t = 0; t < 4; ++t)
            rows[static_cast<size_t>(t)] = by * 4 + t >= h / 2;
        for (int bx = 0; bx < w / 4; ++bx) {
            if (withAlpha) out.insert(out.end(), {0xFF, 0xFF, 0, 0, 0, 0, 0, 0});
            PutColourBlock(out, rows);
        }
    }
    return out;
}

} // namespace

std::vector<uint8_t> MakeTextureObject(const TextureObjectSpec& plan, Endian order) {
    Writer w(order);
    const bool streamed = plan.layout == TextureLayout::Streamed;
    const uint64_t stored = streamed ? plan.streamSize : plan.pixels.size();
    const int32_t images = plan.imageCount > 0 ? plan.imageCount : 1;
    const int32_t completeSize = plan.completeImageSize.value_or(
        static_cast<int32_t>(stored / static_cast<uint64_t>(images)));
    WriteTextureFields(w, plan, completeSize);
    w.I32(plan.imageDataSize.value_or(streamed ? 0 : static_cast<int32_t>(plan.pixels.size())));
    if (streamed) {
        w.U32(plan.streamOffset);
        w.U32(plan.streamSize);
        w.U32(static_cast<uint32_t>(plan.path.size()));
        w.Bytes(plan.path);
    } else {
        w.Bytes(plan.pixels.data(), plan.pixels.size());
    }
    w.Align4();
    w.Bytes(plan.trailing.data(), plan.trailing.size());
    return w.Take();
}

std::vector<uint8_t> MakeModernTextureObject(const TextureLayoutRow& row,
                                             const ModernTextureSpec& plan, Endian order) {
    Writer w(order);
    const auto images = static_cast<uint64_t>(std::max(plan.imageCount, 1));
    uint32_t carried = 0x10203000;
    for (const TexField field : row.fields.View()) {
        switch (field) {
        case TexField::Int32:
            w.U32(++carried);
            break;
        case TexField::Bool:
            w.U8(1);
            break;
        case TexField::Align:
            w.Align4();
            break;
        case TexField::String:
        case TexField::ByteArray:
            w.U32(5);
            w.Bytes("group");
            w.Align4();
            break;
        case TexField::Width:
            w.I32(plan.width);
            break;
        case TexField::Height:
            w.I32(plan.height);
            break;
        case TexField::CompleteImageSize:
            w.U32(static_cast<uint32_t>(plan.pixels.size() / images));
            break;
        case TexField::Format:
            w.I32(plan.format);
            break;
        case TexField::MipCount:
            w.U32(plan.mipCount);
            break;
        case TexField::MipFlag:
            w.U8(plan.mipCount > 1 ? 1 : 0);
            break;
        case TexField::ImageCount:
            w.I32(plan.imageCount);
            break;
        case TexField::ImageData:
            w.U32(plan.streamed ? 0 : static_cast<uint32_t>(plan.pixels.size()));
            if (!plan.streamed) w.Bytes(plan.pixels.data(), plan.pixels.size());
            w.Align4();
            break;
        case TexField::StreamData32:
        case TexField::StreamData64: {
            const bool streamed = plan.streamed;
            if (field == TexField::StreamData64) {
                w.U64(streamed ? plan.streamOffset : 0);
            } else {
                w.U32(streamed ? static_cast<uint32_t>(plan.streamOffset) : 0);
            }
            w.U32(streamed ? static_cast<uint32_t>(plan.pixels.size()) : 0);
            const std::string path = streamed ? plan.path : "";
            w.U32(static_cast<uint32_t>(path.size()));
            w.Bytes(path);
            w.Align4();
            break;
        }
        }
    }
    w.Bytes(plan.trailing.data(), plan.trailing.size());
    return w.Take();
}

std::vector<uint8_t> MakeProceduralTextureObject(const ProceduralTextureSpec& plan, Endian order) {
    Writer w(order);
    w.U32(7);
    w.U32(0);
    w.U64(0x1122334455667788ULL);
    w.U32(1);
    w.U32(0);
    w.U64(0x0102030405060708ULL);
    w.U32(0);
    w.U32(plan.mipValue); // at 36
    for (int i = 0; i < 5; ++i)
        w.U32(0);
    w.I32(plan.dataLength.value_or(static_cast<int32_t>(plan.pixels.size()))); // at 60
    w.Bytes(plan.pixels.data(), plan.pixels.size());
    w.I32(plan.width);
    w.I32(plan.height);
    w.U32(0);
    w.I32(plan.format);
    w.U32(1);
    w.U32(0);
    return w.Take();
}

TextureCase::TextureCase(const std::filesystem::path& dir, int32_t classId, int32_t format,
                         const std::string& exportName, Endian order)
    : order(order) {
    outputBaseDir = dir.string() + "/";
    inner.name = "level0";
    inner.dirName = "level0";
    inner.assets.header.BigEndianFlag = order == Endian::Big ? 1 : 0;
    ObjectRow row;
    row.ClassID = classId;
    inner.assets.items.rows.push_back(row);
    inner.assets.items.ExportName.push_back(exportName);
    inner.assets.items.types.push_back(TType_info{"Texture2D", format});
}

ConverterInput TextureCase::Input(const std::vector<uint8_t>& body,
                                  const std::string& relativeDir) {
    auto source = std::make_shared<MemorySource>("level0", body);
    context.emplace(ConverterContext{
        inner.assets, ResourcePlaces{outputBaseDir, archiveDir, inner.dirName, {}, {}}, messages,
        options.text, options.noFlipTexture, options.Writes(kOutDds), options.executableDir});
    return ConverterInput{*context, Reader(source, order), relativeDir,
                          inner.assets.items.ExportName[0], 0};
}

std::filesystem::path TextureCase::OutputDir(const std::string& relativeDir) const {
    return std::filesystem::path(outputBaseDir) / relativeDir;
}

std::vector<uint8_t> TwoBandImage(int w, int h, const std::vector<uint8_t>& top,
                                  const std::vector<uint8_t>& bottom) {
    std::vector<uint8_t> out;
    for (int stored = 0; stored < h; ++stored) {
        const auto& pixel = stored >= h / 2 ? top : bottom;
        for (int x = 0; x < w; ++x)
            out.insert(out.end(), pixel.begin(), pixel.end());
    }
    return out;
}

std::vector<uint8_t> TwoBandDXT1(int w, int h) {
    return TwoBandBlocks(w, h, false);
}
std::vector<uint8_t> TwoBandDXT5(int w, int h) {
    return TwoBandBlocks(w, h, true);
}

bool HaveImageMagick() {
    return RunCapture("convert -version 2>/dev/null").find("ImageMagick") != std::string::npos;
}

std::optional<DecodedPixel> DecodePixel(const std::filesystem::path& file, int x, int y) {
    // "[0]": the first picture of the file (the DDS readers list mip levels as more pictures).
    const std::string first = Quote(file.string() + "[0]");
    std::istringstream size(RunCapture("identify -format '%w %h\\n' " + first + " 2>/dev/null"));
    DecodedPixel out;
    if (!(size >> out.width >> out.height)) return std::nullopt;
    const std::string rgb = RunCapture("convert " + first + " -crop 1x1+" + std::to_string(x) +
                                       "+" + std::to_string(y) + " -depth 8 rgb:- 2>/dev/null");
    if (rgb.size() != 3) return std::nullopt;
    out.r = static_cast<uint8_t>(rgb[0]);
    out.g = static_cast<uint8_t>(rgb[1]);
    out.b = static_cast<uint8_t>(rgb[2]);
    return out;
}

} // namespace kestrel::test
