#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kestrel::test {

// A fresh directory under the system temp directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string ReadFileText(const std::filesystem::path& path);
std::vector<unsigned char> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);
// The file's inode number (0 when it cannot be read): a file rewritten by rename gets a new one.
uint64_t FileInode(const std::filesystem::path& path);

// The name of this process's first working file for `archive` with the given suffix (".TEMP",
// ".joined"): the archive's path + ".kestrel-PID" + suffix.
std::string WorkingFileOf(const std::filesystem::path& archive,
                          const std::string& suffix = ".TEMP");

// The working files (names holding ".kestrel-") directly in dir.
std::vector<std::filesystem::path> WorkingFilesIn(const std::filesystem::path& dir);

// The regular files in `dir` by path relative to it: directly in it, or in its whole tree.
using NamedFiles = std::map<std::string, std::vector<unsigned char>>;
NamedFiles FilesIn(const std::filesystem::path& dir, bool wholeTree = false);

// ../shared/samples, or empty when absent (tests then skip with a message).
std::filesystem::path SamplesDir();

} // namespace kestrel::test
