// Archives cut into pieces name them archive + ".split0", ".split1", ...; the pieces are joined
// into the archive's own name, one chunk at a time.
#include "bundle/BundleDetail.h"
#include "bundle/BundleReader.h"
#include "io/ByteStreams.h"
#include "common/Error.h"

#include <system_error>

namespace kestrel {

uint32_t JoinSplitPieces(const std::filesystem::path& joined, std::string_view pieceSuffix) {
    const std::string base = joined.string() + std::string(pieceSuffix);
    // The first piece is opened before the joined file is created, so a missing archive leaves
    // nothing behind.
    auto piece = FileSource::Open(base + "0");
    uint32_t count = 0;
    try {
        OutputFile out(joined);
        for (;;) {
            bundle_detail::CopyRange(piece, 0, piece->Size(), out);
            ++count;
            const std::string next = base + std::to_string(count);
            std::error_code ec;
            if (!std::filesystem::is_regular_file(next, ec)) break;
            piece = FileSource::Open(next);
        }
        out.Close();
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove(joined, ec);
        throw;
    }
    return count;
}

} // namespace kestrel
