// Parses every prefix of its input as a serialized assets file (inputs are cut to 4 KiB so that a
// run stays short): a file cut anywhere, in its header, type list, type trees, object table or
// data, must end in a table or a KestrelError, never in a crash or an out-of-bounds read.
#include "assets/AssetsParser.h"
#include "common/Error.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t whole = std::min<size_t>(size, 4096);
    kestrel::ParseOptions options;
    options.innerFileName = "fuzz";
    options.fillListRows = true;
    for (size_t length = 0; length <= whole; ++length) {
        auto source = std::make_shared<kestrel::MemorySource>(
            "fuzz.assets", std::vector<uint8_t>(data, data + length));
        try {
            kestrel::AssetsFile file = kestrel::ParseAssets(source, 0, options);
            (void)file;
        } catch (const kestrel::KestrelError&) {
        }
    }
    return 0;
}
