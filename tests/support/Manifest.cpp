#include "support/Manifest.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kestrel::test {

std::vector<ManifestRow> ReadManifestRows(const std::filesystem::path& samples) {
    std::vector<ManifestRow> rows;
    std::ifstream manifest(samples / "MANIFEST.md");
    for (std::string line; std::getline(manifest, line);) {
        if (line.rfind('|', 0) != 0) continue;
        ManifestRow cols;
        std::istringstream row(line);
        for (std::string col; std::getline(row, col, '|');) {
            const auto b = col.find_first_not_of(' ');
            const auto e = col.find_last_not_of(' ');
            cols.push_back(b == std::string::npos ? "" : col.substr(b, e - b + 1));
        }
        rows.push_back(std::move(cols));
    }
    return rows;
}

std::vector<std::string> SamplesHolding(const std::filesystem::path& samples, int first, int last,
                                        const std::vector<std::string>& classNames) {
    std::vector<std::string> found;
    for (const ManifestRow& cols : ReadManifestRows(samples)) {
        if (cols.size() < 11) continue;
        const int format = std::atoi(cols[6].c_str());
        if (format < first || format > last) continue;
        for (const std::string& name : classNames) {
            if (cols[10].find(name) != std::string::npos) {
                found.push_back(cols[1]);
                break;
            }
        }
    }
    return found;
}

std::vector<std::string> PlainSamples(const std::filesystem::path& samples, int first, int last) {
    std::vector<std::string> out;
    for (const ManifestRow& cols : ReadManifestRows(samples)) {
        if (cols.size() < 7 || cols[4] != "SerializedFile") continue;
        const int format = std::atoi(cols[6].c_str());
        if (format < first || format > last || !std::filesystem::is_regular_file(samples / cols[1]))
            continue;
        out.push_back(cols[1]);
    }
    return out;
}

std::filesystem::path CopySampleWithCompanions(const std::filesystem::path& sample,
                                               const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    const std::string name = sample.filename().string();
    const std::string stem = name.substr(0, name.find('.'));
    for (const auto& entry : fs::directory_iterator(sample.parent_path())) {
        const std::string other = entry.path().filename().string();
        if (entry.is_regular_file() && other.substr(0, other.find('.')) == stem) {
            fs::copy_file(entry.path(), dir / other);
            fs::permissions(dir / other, fs::perms::owner_read | fs::perms::owner_write);
        }
    }
    return dir / name;
}

} // namespace kestrel::test
