#include "app/Tasks.h"

#include "app/Options.h"
#include "assets/AssetsParser.h"
#include "bundle/BundleReader.h"
#include "common/Error.h"
#include "io/SafePath.h"
#include "session/ExportDriver.h"
#include "session/ImportDriver.h"
#include "session/Operations.h"

#include <charconv>
#include <filesystem>
#include <unistd.h>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// 1204 as "1,204".
std::string CountText(size_t n) {
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ",");
    return digits;
}

std::string FullPath(const std::string& path) {
    return fs::absolute(path).lexically_normal();
}

// True for the inner files that hold streamed data (textures' .resS, sounds' .resource): objects
// of the other inner files name them, and their exported copies are where converters read them.

// Makes inner file `index` of the bundle opened last the open one; the working file is reused, so
// a compressed bundle is decompressed once however many inner files a run covers.
void SelectInnerFile(KestrelState& state, size_t index) {
    state.SelectedEntry = EntrySelector{static_cast<uint32_t>(index), std::nullopt, true};
    OpenArchive(state, state.WorkFileName);
}

struct ExportCount {
    size_t attempted = 0;
    size_t failures = 0;
};

void ExportOpenInnerFile(KestrelState& state, ExportCount& count) {
    for (const auto& row : state.Items().rows)
        count.attempted += PassesTypeFilter(state, row.ClassID) ? 1 : 0;
    count.failures += ExportFilteredItems(state);
}

// A resource entry is exported whole whatever -t says: it is the input the conversions of the
// other inner files read.
void ExportResourceEntry(KestrelState& state, ExportCount& count) {
    count.attempted += state.Items().Count();
    count.failures += ExportFilteredItems(state, /*everyItem=*/true);
}

bool ResourceAlreadyExported(const KestrelState& state) {
    std::error_code ec;
    const ItemTable& items = state.assets.items;
    return items.Count() == 1 &&
           fs::exists(fs::path(state.OutputBaseDir) / ExportTreeRelative(state) /
                          SafeComponent(items.ExportName[0]),
                      ec);
}

int ExportTask(KestrelState& state, const std::string& archive) {
    if (state.TypeFilterActive) {
        ApplyTypeNames(state);
    } else {
        SetExportAllSwitches(state);
    }
    state.Report().ProgressLine("export\r\n");
    OpenArchive(state, FullPath(archive));
    ExportCount count;
    if (!state.isBundle) {
        ExportOpenInnerFile(state, count);
    } else {
        const std::vector<std::string> names = state.innerFileNames;
        if (state.SelectedEntry.given) {
            // The chosen inner file, after the resource entries it needs that are not exported yet.
            const size_t chosen = state.SelectedEntry.index;
            for (size_t r : ResourceEntriesOf(names, chosen)) {
                SelectInnerFile(state, r);
                if (!ResourceAlreadyExported(state)) ExportResourceEntry(state, count);
            }
            SelectInnerFile(state, chosen);
            ExportOpenInnerFile(state, count);
        } else {
            // Every inner file, the resource entries first.
            for (int pass = 0; pass < 2; ++pass) {
                for (size_t i = 0; i < names.size(); ++i) {
                    if (IsResourceEntry(names[i]) != (pass == 0)) continue;
                    SelectInnerFile(state, i);
                    if (pass == 0) {
                        ExportResourceEntry(state, count);
                    } else {
                        ExportOpenInnerFile(state, count);
                    }
                }
            }
        }
    }
    if (count.failures != 0) {
        state.Report().Alert(CountText(count.failures) + " of " + CountText(count.attempted) +
                             (count.attempted == 1 ? " object" : " objects") + " failed");
        return 1;
    }
    return 0;
}

int ImportTask(KestrelState& state, const std::string& archive) {
    const fs::path path(archive);
    // The export tree the import reads: under -p DIR when given, else beside the archive, named
    // as the export names it (the file name up to its first dot).
    const std::string fileName = path.filename().string();
    const fs::path base = state.CustomPathGiven ? fs::path(state.CustomPath) : path.parent_path();
    const fs::path dir =
        (base / ExportTreeOf(SafeComponent(fileName.substr(0, fileName.find('.'))))).parent_path();
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        state.Report().Alert("Nothing to import: " + dir.string() + " does not exist.");
        return 1;
    }
    // Import rewrites the archive through a file beside it, and keeps its working copy there.
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (::access(folder.c_str(), W_OK) != 0) {
        state.Report().Alert("Cannot import into " + archive + ": import needs to write beside " +
                             "the archive, and " + folder.string() + " cannot be written to.");
        return 1;
    }
    state.Report().ProgressLine("import\r\n");
    OpenArchive(state, archive);
    if (state.isBundle && !state.SelectedEntry.given) {
        ImportBundle(state);
        return 0;
    }
    const std::string root = state.OutputBaseDir + ExportTreeRelative(state);
    if (!fs::is_directory(root, ec)) {
        state.Report().Alert("Nothing to import: " + root + " does not exist.");
        return 1;
    }
    ImportAll(state);
    return 0;
}

int ExportBundleTask(KestrelState& state, const std::string& archive) {
    state.Report().ProgressLine("export\r\n");
    OpenArchive(state, FullPath(archive));
    if (!state.isBundle) {
        state.Report().Alert("Not a bundle, no inner files to export: " + archive);
        return 1;
    }
    ExportBundle(state, state.OutputBaseDir + ExportTreeOf(state.ArchiveBaseName) + "Bundle/");
    return 0;
}

void ListOpenInnerFile(KestrelState& state) {
    std::string line;
    for (size_t i = 0; i < state.Items().Count(); ++i) {
        line.clear();
        AppendListLine(line, state.assets, i);
        state.Report().ProgressLine(line);
    }
}

int ListTask(KestrelState& state, const std::string& archive) {
    OpenArchive(state, FullPath(archive));
    const std::vector<std::string> names = state.innerFileNames;
    if (!state.isBundle || state.SelectedEntry.given || names.size() < 2) {
        ListOpenInnerFile(state);
        return 0;
    }
    // Every inner file, each under a line naming it.
    for (size_t i = 0; i < names.size(); ++i) {
        if (i != 0) SelectInnerFile(state, i);
        state.Report().ProgressLine("# " + std::to_string(i) + " " + names[i]);
        ListOpenInnerFile(state);
    }
    return 0;
}

} // namespace

void AppendListLine(std::string& out, const AssetsFile& file, size_t index) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    char digits[24];
    const auto number = [&](auto value) {
        out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    };
    const ListSpan span = ListSpanOf(file, index);
    number(index + 1);
    out += '\t';
    out += file.items.ExportName[index];
    out += '\t';
    number(file.items.rows[index].ClassID);
    out += " (";
    out += file.items.types[index].name;
    out += ")\t";
    number(span.size);
    out += "\t0x";
    for (int i = span.offset > 0xFFFFFFFFu ? 15 : 7; i >= 0; --i)
        out += kHex[(span.offset >> (4 * i)) & 0xF];
}

int RunTask(KestrelState& state, const std::string& task, const std::string& archive) {
    int code = 1;
    try {
        if (task == "export") {
            code = ExportTask(state, archive);
        } else if (task == "import") {
            code = ImportTask(state, archive);
        } else if (task == "exportbundle") {
            code = ExportBundleTask(state, archive);
        } else if (task == "list") {
            code = ListTask(state, archive);
        }
    } catch (const std::exception& e) {
        // A failed task still removes its working files: a damaged archive leaves nothing behind.
        state.Report().Alert(e.what());
        code = 1;
    }
    try {
        CleanUpWorkingFiles(state);
    } catch (const std::exception& e) {
        state.Report().Alert(e.what());
        code = 1;
    }
    return code;
}

} // namespace kestrel
