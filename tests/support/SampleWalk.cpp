#include "support/SampleWalk.h"

#include "common/Error.h"
#include "session/ExportDriver.h"
#include "session/Operations.h"
#include "support/Manifest.h"
#include "support/TempDir.h"

namespace kestrel::test {

namespace fs = std::filesystem;

bool IsResourceEntry(const std::string& name) {
    return name.ends_with(".resS") || name.ends_with(".resource");
}

void ForEachBody(const OpenedArchive& opened, int32_t classId,
                 const std::function<void(size_t, const Reader&)>& fn) {
    const AssetsFile& assets = opened.inner.assets;
    const Reader file(opened.archive->Work(), assets.header.DataOrder());
    const auto& rows = assets.items.rows;
    for (size_t i = 0; i < rows.size(); ++i) {
        const ObjectRow& row = rows[i];
        if (row.ClassID != classId || row.ObjSize <= row.NameHeaderSize) continue;
        const uint64_t start = assets.DataOffset + row.ObjOffset + row.NameHeaderSize;
        fn(i, file.Sub(start, row.ObjSize - row.NameHeaderSize, "object body"));
    }
}

SampleWalk::SampleWalk(const fs::path& samples, int first, int last, const std::string& className)
    : samples_(samples), first_(first), last_(last),
      list_(SamplesHolding(samples, first, last, {className})) {}

void SampleWalk::Run(const Check& check) {
    for (const std::string& local : list_) {
        TempDir dir;
        const fs::path copy = CopySampleWithCompanions(samples_ / local, dir.Path());
        OpenedArchive opened;
        try {
            opened.Open(copy.string());
        } catch (const KestrelError& e) {
            unreadable_.push_back(local + ": " + e.what());
            continue;
        }
        const Archive& archive = *opened.archive;
        const std::vector<std::string>& names = archive.InnerFileNames();
        const size_t entries = archive.InnerFileCount();
        for (int pass = archive.IsBundle() ? 0 : 1; pass < 2; ++pass) {
            for (size_t e = 0; e < entries; ++e) {
                if (archive.IsBundle() && IsResourceEntry(names[e]) != (pass == 0)) continue;
                opened.Select(e);
                if (pass == 0)
                    ExportObjects(opened.Scope(),
                                  ExportedObjects(opened.inner, opened.options, true));
                else
                    check(opened, opened.messages, dir.Path(), local);
            }
        }
    }
}

std::string SampleWalk::SkipReason(size_t objectsFound) const {
    if (objectsFound != 0 || unreadable_.empty()) return "";
    return "the assets parser reads no object table of formats " + std::to_string(first_) + " to " +
           std::to_string(last_) + " (" + std::to_string(unreadable_.size()) + " of " +
           std::to_string(list_.size()) + " samples do not open): " + unreadable_.front();
}

std::vector<std::string> SampleWalk::Failures() const {
    std::vector<std::string> all = unreadable_;
    all.insert(all.end(), problems.begin(), problems.end());
    return all;
}

} // namespace kestrel::test
