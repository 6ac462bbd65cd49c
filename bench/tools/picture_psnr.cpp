// Prints how much an edited picture loses when it goes back into its texture's format: every
// texture of the samples whose format has an encoder is exported as a picture, encoded in its
// format and decoded again, and the PSNR of the two pictures (over the channels the picture
// keeps, values 0..1) is summed up per format. Pictures that never were compressed (the
// uncompressed 8-bit textures) are encoded in the common lossy formats as well.
//
//   kestrel_picture_psnr [SAMPLES_DIR]     (default: ../shared/samples beside the sources)
#include "assets/Vocabulary.h"
#include "image/PictureCodecs.h"
#include "image/PictureFiles.h"
#include "session/ExportDriver.h"
#include "session/ImportFiles.h"
#include "support/PictureEdits.h"
#include "support/SampleWalk.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

struct FormatQuality {
    size_t textures = 0;
    size_t exact = 0;
    double sum = 0; // of the PSNR of the textures that are not exact
    double lowest = std::numeric_limits<double>::infinity();
    std::string worst; // the texture of the lowest
};

fs::path PictureOf(const OpenedArchive& a, size_t i) {
    return ExportedPicture(ImportRoot(a.Scope()), a.Items().ExportName[i]);
}

// The lossy formats an edit most often goes to, tried on pictures that never were in them.
constexpr int32_t kFreshTargets[] = {10, 12, 25, 34, 47, 50, 56};

bool IsUncompressed8Bit(int32_t format) {
    return format == 3 || format == 4 || format == 5 || format == 14;
}

void Add(FormatQuality& q, double psnr, const std::string& name) {
    ++q.textures;
    if (std::isinf(psnr)) {
        ++q.exact;
    } else {
        q.sum += psnr;
        if (psnr < q.lowest) q.worst = name;
        q.lowest = std::min(q.lowest, psnr);
    }
}

// PSNR of the plane encoded in `format` and decoded again.
double RoundTripPsnr(const image::ImagePlane& plane, int32_t format) {
    const auto codec = image::FindPictureCodec(format);
    std::vector<uint8_t> encoded(image::PictureLevelBytes(format, plane.width, plane.height));
    codec->encode(plane, encoded);
    image::ImagePlane decoded;
    codec->decode(encoded, plane.width, plane.height, decoded);
    return PictureChannelsPsnr(plane, decoded, codec->channels, false);
}

void Measure(OpenedArchive& a, std::map<int32_t, FormatQuality>& quality,
             std::map<int32_t, FormatQuality>& fresh) {
    a.options.outputs = kOutConvert | kOutPng;
    std::vector<size_t> textures;
    for (size_t i = 0; i < a.Items().Count(); ++i) {
        const ObjectRow& row = a.Items().rows[i];
        const auto codec = image::FindPictureCodec(a.Items().types[i].TextureFormat);
        if ((row.ClassID == 28 || row.ClassID == 89) && row.ObjSize > row.NameHeaderSize && codec &&
            codec->encode != nullptr)
            textures.push_back(i);
    }
    ExportObjects(a.Scope(), textures);
    for (size_t i : textures) {
        const fs::path picture = PictureOf(a, i);
        if (picture.empty()) continue;
        const int32_t format = a.Items().types[i].TextureFormat;
        const auto codec = image::FindPictureCodec(format);
        const image::ImagePlane plane =
            codec->floatValues ? image::ReadExr(picture) : image::ReadPng(picture);
        const std::string name = a.Items().ExportName[i];
        Add(quality[format], RoundTripPsnr(plane, format), name);
        if (!IsUncompressed8Bit(format)) continue;
        for (int32_t target : kFreshTargets)
            Add(fresh[target], RoundTripPsnr(plane, target), name);
    }
}

} // namespace

int main(int argc, char** argv) {
    const fs::path samples = argc > 1 ? fs::path(argv[1]) : SamplesDir();
    if (samples.empty() || !fs::is_directory(samples)) {
        std::fprintf(stderr, "no samples directory\n");
        return 1;
    }
    std::map<int32_t, FormatQuality> quality, fresh;
    SampleWalk textures(samples, 0, 22, "Texture2D");
    textures.Run([&](OpenedArchive& a, RecordedMessages&, const fs::path&, const std::string&) {
        Measure(a, quality, fresh);
    });
    // Samples with cubemaps and no Texture2D: the first walk covered the others.
    const std::vector<std::string>& seen = textures.Samples();
    SampleWalk cubemaps(samples, 0, 22, "Cubemap");
    cubemaps.Run(
        [&](OpenedArchive& a, RecordedMessages&, const fs::path&, const std::string& local) {
            if (std::find(seen.begin(), seen.end(), local) == seen.end())
                Measure(a, quality, fresh);
        });
    const auto print = [](const char* title, const std::map<int32_t, FormatQuality>& table) {
        std::printf("%s\n%-16s %8s %6s %10s %10s  %s\n", title, "format", "textures", "exact",
                    "mean dB", "lowest dB", "lowest in");
        for (const auto& [format, q] : table) {
            const size_t lossy = q.textures - q.exact;
            std::printf("%-16s %8zu %6zu %10.2f %10.2f  %s\n",
                        TextureFormatShortName(format, true).c_str(), q.textures, q.exact,
                        lossy ? q.sum / static_cast<double>(lossy) : INFINITY,
                        lossy ? q.lowest : INFINITY, q.worst.c_str());
        }
    };
    print("Each texture decoded, encoded in its own format and decoded again:", quality);
    print("\nThe uncompressed 8-bit textures (RGB24, RGBA32, ARGB32, BGRA32) encoded in:", fresh);
    return 0;
}
