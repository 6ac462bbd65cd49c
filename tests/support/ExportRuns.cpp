#include "support/ExportRuns.h"

#include "app/Options.h"
#include "session/ExportDriver.h"
#include "session/Operations.h"
#include "support/TempDir.h"

#include <map>

namespace kestrel::test {

namespace fs = std::filesystem;

void OpenAndExport(KestrelState& state, RecordedMessages& messages, const fs::path& archive,
                   const std::string& outputDir) {
    state.reporter = &messages;
    state.ConsoleMode = true;
    if (!outputDir.empty()) {
        state.CustomPathGiven = true;
        state.CustomPath = outputDir + "/";
    }
    SetExportAllSwitches(state);
    OpenArchive(state, archive.string());
    ExportFilteredItems(state);
}

std::optional<size_t> FirstText(const KestrelState& state,
                                std::initializer_list<int32_t> classIds) {
    const auto& rows = state.assets.items.rows;
    for (const int32_t classId : classIds) {
        for (size_t i = 0; i < rows.size(); ++i) {
            const ObjectRow& row = rows[i];
            if (row.ClassID == classId && row.PayloadOffset >= 4 && row.PayloadSize > 0) return i;
        }
    }
    return std::nullopt;
}

namespace {

// The raw files directly in an export tree, by name.
std::map<std::string, std::vector<unsigned char>> RawFiles(const fs::path& tree) {
    std::map<std::string, std::vector<unsigned char>> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(tree, ec)) {
        if (e.is_regular_file()) files[e.path().filename().string()] = ReadFileBytes(e.path());
    }
    return files;
}

} // namespace

std::vector<std::string> RawFilesChanged(const fs::path& before, const fs::path& after) {
    const auto old = RawFiles(before);
    const auto now = RawFiles(after);
    std::vector<std::string> changed;
    for (const auto& [file, bytes] : old) {
        const auto it = now.find(file);
        if (it == now.end() || it->second != bytes) changed.push_back(file);
    }
    for (const auto& entry : now) {
        if (!old.contains(entry.first)) changed.push_back(entry.first);
    }
    return changed;
}

} // namespace kestrel::test
