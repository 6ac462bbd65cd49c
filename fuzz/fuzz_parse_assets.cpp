// Parses arbitrary bytes as a serialized assets file: any input must end in a table or a
// KestrelError, never in a crash, a hang or an out-of-bounds read.
#include "assets/AssetsParser.h"
#include "common/Error.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto source = std::make_shared<kestrel::MemorySource>("fuzz.assets",
                                                          std::vector<uint8_t>(data, data + size));
    kestrel::ParseOptions options;
    options.innerFileName = "fuzz";
    options.fillListRows = true;
    try {
        kestrel::AssetsFile file = kestrel::ParseAssets(source, 0, options);
        (void)file;
    } catch (const kestrel::KestrelError&) {
    }
    return 0;
}
