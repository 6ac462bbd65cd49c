// Opens arbitrary bytes as an archive: any input must end in an item table or a KestrelError,
// never in a crash, a hang or an out-of-bounds read, and must leave no working file behind.
#include "common/Error.h"
#include "session/Archive.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

const std::filesystem::path& WorkDir() {
    static const std::filesystem::path dir = [] {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "kestrel-fuzz-open-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
        return std::filesystem::path(tmpl);
    }();
    return dir;
}

void RemoveAll(const std::string& archive) {
    std::error_code ec;
    std::filesystem::remove(archive, ec);
    std::filesystem::remove(archive + ".TEMP", ec);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string archive = (WorkDir() / "archive.unity3d").string();
    RemoveAll(archive);
    {
        std::ofstream out(archive, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    kestrel::SilentReporter reporter;
    const kestrel::RunOptions options;
    try {
        // The archive's destructor removes its working files on every way out.
        const auto opened = kestrel::Archive::Open(archive, reporter);
        opened->Parse(0, options, &reporter);
        // A second inner file is parsed from the same working file, as selecting it in the list
        // does.
        if (opened->InnerFileCount() > 1) opened->Parse(1, options, &reporter);
    } catch (const kestrel::KestrelError&) {
    }
    RemoveAll(archive);
    return 0;
}
