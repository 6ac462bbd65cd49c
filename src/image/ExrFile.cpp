#include "image/PictureFiles.h"

#include "common/Error.h"
#include "image/HalfFloat.h"
#include "image/PlaneConvert.h"
#include "io/AtomicFile.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStdIO.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <string>

namespace kestrel::image {
namespace {

constexpr std::array<const char*, 4> kChannelNames{"R", "G", "B", "A"};

uint32_t ChannelCount(ChannelSet channels) {
    switch (channels) {
    case ChannelSet::kGray:
        return 1;
    case ChannelSet::kGrayGreen:
        return 2;
    case ChannelSet::kRgb:
        return 3;
    default:
        return 4;
    }
}

std::string Number(uint64_t value) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof(text), value);
    return std::string(text, result.ptr);
}

// The whole EXR file in memory, written through OpenEXR's stream over a string.
std::string EncodeExr(const ImagePlane& p, uint32_t count, bool halfValues) {
    const int w = static_cast<int>(p.width), h = static_cast<int>(p.height);
    Imf::Header header(w, h);
    const auto type = halfValues ? Imf::HALF : Imf::FLOAT;
    for (uint32_t c = 0; c < count; ++c)
        header.channels().insert(kChannelNames[c], Imf::Channel(type));
    // One buffer per channel, top row first (the plane's last stored row).
    const size_t n = static_cast<size_t>(p.width) * p.height;
    std::vector<std::vector<float>> floats(count);
    std::vector<std::vector<uint16_t>> halves(count);
    Imf::FrameBuffer frame;
    for (uint32_t c = 0; c < count; ++c) {
        floats[c].resize(n);
        for (size_t row = 0; row < p.height; ++row)
            for (size_t x = 0; x < p.width; ++x)
                floats[c][row * p.width + x] =
                    p.rgbaF[((p.height - 1 - row) * p.width + x) * 4 + c];
        char* base = reinterpret_cast<char*>(floats[c].data());
        size_t stride = sizeof(float);
        if (halfValues) {
            halves[c].resize(n);
            for (size_t i = 0; i < n; ++i)
                halves[c][i] = FloatToHalf(floats[c][i]);
            base = reinterpret_cast<char*>(halves[c].data());
            stride = sizeof(uint16_t);
        }
        frame.insert(kChannelNames[c], Imf::Slice(type, base, stride, stride * p.width));
    }
    Imf::StdOSStream stream;
    {
        Imf::OutputFile file(stream, header);
        file.setFrameBuffer(frame);
        file.writePixels(h);
    }
    return stream.str();
}

} // namespace

void WriteExr(const ImagePlane& plane, ChannelSet channels, const std::filesystem::path& path,
              bool halfValues) {
    ImagePlane scratch;
    const ImagePlane& p = AsKind(plane, PixelKind::kRgbaFloat, scratch);
    std::string bytes;
    try {
        bytes = EncodeExr(p, ChannelCount(channels), halfValues);
    } catch (const std::exception& e) {
        throw KestrelError("EXR file " + path.string() + ": " + e.what());
    }
    AtomicOutputFile out(path, AtomicOutputFile::Flush::RenameOnly);
    out.Write(bytes.data(), bytes.size());
    out.Commit();
}

ImagePlane ReadExr(const std::filesystem::path& path) {
    try {
        Imf::InputFile file(path.c_str());
        const Imath::Box2i window = file.header().dataWindow();
        const int64_t w = static_cast<int64_t>(window.max.x) - window.min.x + 1;
        const int64_t h = static_cast<int64_t>(window.max.y) - window.min.y + 1;
        if (w <= 0 || h <= 0 || w > kMaxPictureEdge || h > kMaxPictureEdge) {
            throw KestrelError("EXR file " + path.string() + " is larger than " +
                               Number(kMaxPictureEdge) + " x " + Number(kMaxPictureEdge) +
                               " or empty");
        }
        const auto width = static_cast<uint32_t>(w), height = static_cast<uint32_t>(h);
        std::vector<float> top(static_cast<size_t>(width) * height * 4);
        const bool luminance = file.header().channels().findChannel("R") == nullptr &&
                               file.header().channels().findChannel("Y") != nullptr;
        Imf::FrameBuffer frame;
        for (uint32_t c = 0; c < 4; ++c) {
            const char* name = c == 0 && luminance ? "Y" : kChannelNames[c];
            frame.insert(name,
                         Imf::Slice::Make(Imf::FLOAT, top.data() + c, window, sizeof(float) * 4,
                                          sizeof(float) * 4 * width, 1, 1, c == 3 ? 1.0 : 0.0));
        }
        file.setFrameBuffer(frame);
        file.readPixels(window.min.y, window.max.y);
        ImagePlane plane = ImagePlane::Make(width, height, PixelKind::kRgbaFloat);
        const size_t rowValues = static_cast<size_t>(width) * 4;
        for (uint32_t row = 0; row < height; ++row)
            std::copy_n(top.begin() + static_cast<ptrdiff_t>(row * rowValues), rowValues,
                        plane.rgbaF.begin() +
                            static_cast<ptrdiff_t>((height - 1 - row) * rowValues));
        return plane;
    } catch (const KestrelError&) {
        throw;
    } catch (const std::exception& e) {
        throw KestrelError("EXR file " + path.string() + ": " + e.what());
    }
}

} // namespace kestrel::image
