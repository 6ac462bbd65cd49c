#include "support/PictureEdits.h"

#include "image/DesktopCodecs.h"
#include "image/PictureCodecs.h"
#include "image/PictureFiles.h"
#include "image/PlaneConvert.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace kestrel::test {
namespace fs = std::filesystem;

namespace {

bool IsExr(const fs::path& file) {
    std::string ext = file.extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".exr";
}

} // namespace

image::ImagePlane WithRedRectangle(image::ImagePlane plane) {
    plane = image::ConvertPlane(plane, image::PixelKind::kRgbaFloat);
    for (uint32_t row = kDrawnFrom; row <= kDrawnTo && row < plane.height; ++row) {
        const uint32_t y = plane.height - 1 - row; // stored order: bottom row first
        for (uint32_t x = kDrawnFrom; x <= kDrawnTo && x < plane.width; ++x) {
            float* p = &plane.rgbaF[(static_cast<size_t>(y) * plane.width + x) * 4];
            p[0] = 1.0f;
            p[1] = 0.0f;
            p[2] = 0.0f;
            p[3] = 1.0f;
        }
    }
    return plane;
}

bool DrawRedRectangle(const fs::path& picture) {
    if (IsExr(picture)) {
        const image::ImagePlane edited = WithRedRectangle(image::ReadExr(picture));
        image::WriteExr(edited, image::ChannelSet::kRgba, picture, true);
        return true;
    }
    const std::string rect = "rectangle " + std::to_string(kDrawnFrom) + "," +
                             std::to_string(kDrawnFrom) + " " + std::to_string(kDrawnTo) + "," +
                             std::to_string(kDrawnTo);
    const std::string command = "convert '" + picture.string() + "' -fill red -draw '" + rect +
                                "' '" + picture.string() + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

image::ImagePlane ReadPictureAsFloat(const fs::path& picture) {
    const image::ImagePlane plane =
        IsExr(picture) ? image::ReadExr(picture) : image::ReadPng(picture);
    return image::ConvertPlane(plane, image::PixelKind::kRgbaFloat);
}

double PictureChannelsPsnr(const image::ImagePlane& a, const image::ImagePlane& b,
                           image::ChannelSet channels, bool rectangleOnly) {
    if (a.width != b.width || a.height != b.height) return -1;
    const image::ImagePlane fa = image::ConvertPlane(a, image::PixelKind::kRgbaFloat);
    const image::ImagePlane fb = image::ConvertPlane(b, image::PixelKind::kRgbaFloat);
    bool kept[4] = {true, true, true, true};
    switch (channels) {
    case image::ChannelSet::kAlpha:
        kept[0] = kept[1] = kept[2] = false;
        break;
    case image::ChannelSet::kGray:
        kept[1] = kept[2] = kept[3] = false;
        break;
    case image::ChannelSet::kGrayGreen:
        kept[2] = kept[3] = false;
        break;
    case image::ChannelSet::kRgb:
        kept[3] = false;
        break;
    case image::ChannelSet::kRgba:
        break;
    }
    double sum = 0;
    size_t count = 0;
    for (uint32_t y = 0; y < a.height; ++y) {
        const uint32_t row = a.height - 1 - y;
        for (uint32_t x = 0; x < a.width; ++x) {
            if (rectangleOnly &&
                (row < kDrawnFrom || row > kDrawnTo || x < kDrawnFrom || x > kDrawnTo))
                continue;
            for (uint32_t c = 0; c < 4; ++c) {
                if (!kept[c]) continue;
                const size_t i = (static_cast<size_t>(y) * a.width + x) * 4 + c;
                const double d =
                    std::clamp(fa.rgbaF[i], 0.0f, 1.0f) - std::clamp(fb.rgbaF[i], 0.0f, 1.0f);
                sum += d * d;
                ++count;
            }
        }
    }
    if (count == 0 || sum == 0) return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(1.0 / (sum / static_cast<double>(count)));
}

std::string DrawnRectangleProblem(const fs::path& exported, const image::ImagePlane& drawn,
                                  int32_t format) {
    if (exported.empty()) return "no picture exported";
    const image::ImagePlane back = ReadPictureAsFloat(exported);
    const auto codec = image::FindPictureCodec(format);
    const double rectangle =
        PictureChannelsPsnr(back, WithRedRectangle(back), codec->channels, true);
    const double whole = PictureChannelsPsnr(back, drawn, codec->channels, false);
    const image::FormatCodec* pixels = image::FindDesktopCodec(format);
    const bool exact = pixels != nullptr && pixels->blockBytes == 0;
    const bool ok = exact ? std::isinf(rectangle) && std::isinf(whole)
                          : rectangle >= kLossyRectanglePsnr && whole >= kLossyRectanglePsnr;
    if (ok) return "";
    return exported.filename().string() + ": rectangle " + std::to_string(rectangle) +
           " dB, picture " + std::to_string(whole) + " dB";
}

fs::path ExportedPicture(const fs::path& tree, const std::string& exportName) {
    std::error_code ec;
    for (const char* dir : {"Textures", "Cubemap"}) {
        for (auto it = fs::recursive_directory_iterator(tree / dir, ec); !ec && it != fs::end(it);
             it.increment(ec)) {
            const std::string file = it->path().filename().string();
            if (file == exportName + ".png" || file == exportName + ".exr") return it->path();
        }
    }
    return {};
}

std::vector<std::string> RawFileProblems(const NamedFiles& before, const NamedFiles& after,
                                         const std::vector<std::string>& edited) {
    std::vector<std::string> problems;
    if (before.size() != after.size()) problems.push_back("raw files came or went");
    for (const auto& [name, bytes] : before) {
        const auto it = after.find(name);
        const bool wasEdited = std::find(edited.begin(), edited.end(), name) != edited.end();
        if (it == after.end()) {
            problems.push_back(name + " is missing");
        } else if (wasEdited == (it->second == bytes)) {
            problems.push_back(name + (wasEdited ? " did not change" : " changed"));
        }
    }
    return problems;
}

} // namespace kestrel::test
