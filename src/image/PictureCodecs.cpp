#include "image/PictureCodecs.h"

#include "common/Error.h"
#include "image/DesktopCodecs.h"
#include "image/MobileCodecs.h"

namespace kestrel::image {

std::optional<PictureCodec> FindPictureCodec(int32_t format) {
    if (const FormatCodec* d = FindDesktopCodec(format); d != nullptr && d->decode != nullptr) {
        return PictureCodec{
            format,      d->channels, d->decode, d->encode, d->kind == PixelKind::kRgbaFloat,
            d->halfFloat};
    }
    if (const MobileFormatCodec* m = FindMobileCodec(format); m != nullptr && m->decoder != nullptr)
        return PictureCodec{format, m->channels, m->decoder, m->encoder, m->hdr, true};
    return std::nullopt;
}

uint64_t PictureLevelBytes(int32_t format, uint32_t width, uint32_t height) {
    if (const FormatCodec* d = FindDesktopCodec(format)) return LevelByteSize(*d, width, height);
    if (const MobileFormatCodec* m = FindMobileCodec(format))
        return MobileLevelBytes(*m, width, height);
    throw KestrelError("No picture codec for texture format " + std::to_string(format));
}

} // namespace kestrel::image
