#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel::test {

std::string WorkingFileOf(const std::filesystem::path& archive, const std::string& suffix) {
    return archive.string() + ".kestrel-" + std::to_string(::getpid()) + suffix;
}

std::vector<std::filesystem::path> WorkingFilesIn(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> found;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (e.path().filename().string().find(".kestrel-") != std::string::npos)
            found.push_back(e.path());
    }
    return found;
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kestrel-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

// The whole file through its stream buffer (empty when it cannot be read): a byte-wise stream
// iterator is many times slower, under the sanitizers above all, and the suite reads gigabytes.
std::string ReadFileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    return std::move(text).str();
}

std::vector<unsigned char> ReadFileBytes(const std::filesystem::path& path) {
    const std::string text = ReadFileText(path);
    return {text.begin(), text.end()};
}

uint64_t FileInode(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_ino;
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::filesystem::path SamplesDir() {
    std::filesystem::path dir = KESTREL_SAMPLES_DIR_FOR_SUPPORT;
    return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

NamedFiles FilesIn(const std::filesystem::path& dir, bool wholeTree) {
    NamedFiles files;
    std::error_code ec;
    const auto add = [&](const std::filesystem::directory_entry& e) {
        if (e.is_regular_file())
            files[std::filesystem::relative(e.path(), dir).string()] = ReadFileBytes(e.path());
    };
    if (wholeTree) {
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
            add(e);
    } else {
        for (const auto& e : std::filesystem::directory_iterator(dir, ec))
            add(e);
    }
    return files;
}

} // namespace kestrel::test
