#pragma once
#include "assets/AssetsTypes.h"
#include "bundle/BundleTypes.h"
#include "common/Localization.h"
#include "common/Reporter.h"
#include "io/ByteSource.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// How the inner file of a bundle is chosen: by index (the default, 0) or by name.
struct EntrySelector {
    uint32_t index = 0;
    std::optional<std::string> name;
    bool given = false; // chosen by the user (-e); otherwise a run covers every inner file
};

// The program-wide state: mode flags, switches, the paths of the archive opened last, its bundle
// record, assets header and item table. `main` owns one instance; tests make their own.
struct KestrelState {
    // Mode flags and switches, all false at start.
    bool ConsoleMode = false;
    bool ConsoleAttached = false;
    bool TypeFilterActive = false;
    bool CustomPathGiven = false;
    bool NoFlipTexture = false;
    bool ExportConvert = false;
    bool ExportRawTextures = false;
    bool ExportDDS = false;
    bool ExportCRN = false;
    bool ExportKTX = false;
    bool ExportPVR = false;
    bool ExportRawAudio = false;
    bool FontAsObject = false;
    bool ExportRawMesh = false;
    bool ExportOBJ = false;

    // Opening fills ItemTable::listRows, which the window shows; the command line prints rows
    // as it goes and keeps none.
    bool KeepListRows = true;

    std::vector<std::string> TypeFilter; // decimal type IDs (or words left as typed)
    std::string CustomPath;              // ends with "/"

    // Set by OpenArchive.
    std::string ArchiveName;               // the archive as the user named it; errors name it
    std::vector<std::string> WorkingFiles; // files this run created for it; clean-up removes them
    std::string WorkFileName;
    std::string OutputBaseDir; // ends with "/"
    // The archive's own directory, ending with "/": resource files (.resS, .resource) named by
    // its objects lie there, whatever export directory -p chose.
    std::string ArchiveDir;
    std::string ArchiveDirName;
    std::string ArchiveBaseName;
    std::string InnerFileName;
    uint32_t SplitPieceCount = 0;
    EntrySelector SelectedEntry;
    uint64_t assetsBase = 0;
    Unity3D_Structure Bundle;
    std::vector<std::string> innerFileNames; // the entry or node names of the bundle
    bool isBundle = false;                   // format 3 or 6 bundle directory was read
    std::string resourceKind;                // for a single resource item: "OggS", "MP3", "unknown"

    // Set by the assets parser (or the single-resource fallback).
    AssetsFile assets;

    // Open only inside one operation (open, export, import, bundle export).
    std::shared_ptr<const ByteSource> WorkStream;

    TLocalization Localization = MakeLocalization(false);
    Reporter* reporter = nullptr;
    // Directory of the running executable: the external crunch tool is looked for there.
    std::filesystem::path ExecutableDir;

    Reporter& Report() {
        static SilentReporter silent;
        return reporter != nullptr ? *reporter : silent;
    }
    ItemTable& Items() { return assets.items; }
};

} // namespace kestrel
