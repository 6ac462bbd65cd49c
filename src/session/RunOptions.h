#pragma once
// What a run of Kestrel was asked to do, fixed once the command line is read (or, in the window,
// once an action is chosen): places, the inner file, the kinds of files an export writes, and the
// user's language. Operations take it by const reference and never change it.
#include "common/Localization.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

class TypeTreeLibrary;

// How the inner file of a bundle is chosen: by index or by name.
struct EntrySelector {
    uint32_t index = 0;
    std::optional<std::string> name;
    bool given = false; // chosen by the user (-e); otherwise a run covers every inner file
};

// The kinds of files an export writes, as a set of bits.
enum OutputKind : uint16_t {
    kOutRawTextures = 1u << 0,
    kOutDds = 1u << 1,
    kOutCrn = 1u << 2,
    kOutKtx = 1u << 3,
    kOutPvr = 1u << 4,
    kOutRawMesh = 1u << 5,
    kOutObj = 1u << 6,
    kOutRawAudio = 1u << 7,
    // Converters run at all (pictures, meshes, sounds, videos).
    kOutConvert = 1u << 8,
    kOutPng = 1u << 9, // pictures people open: PNG, or EXR for float formats
    kOutJson = 1u << 10, // NAME.EXT.json beside the raw file of every object with a type tree
};

// Everything an export without -t writes.
inline constexpr uint16_t kOutEverything = kOutConvert | kOutRawTextures | kOutDds | kOutCrn |
                                           kOutPvr | kOutRawAudio | kOutRawMesh | kOutObj;
// The raw object files of every class and no converted file.
inline constexpr uint16_t kOutRawOnly = kOutRawTextures | kOutRawAudio | kOutRawMesh;
// The converted files and not the raw files of converted classes.
inline constexpr uint16_t kOutSourceFiles = kOutConvert | kOutDds | kOutCrn | kOutPvr | kOutObj;

enum class Task : uint8_t { kWindow, kList, kExport, kExportBundle, kImport };

struct RunOptions {
    Task task = Task::kWindow;
    // -p: the folder that receives (export) or holds (import) the export tree, ending with "/";
    // empty: beside the archive.
    std::string outputDir;
    EntrySelector entry;
    uint16_t outputs = 0; // OutputKind bits
    // -t: decimal class numbers (or words left as typed); the filter applies when active.
    std::vector<std::string> typeFilter;
    bool typeFilterActive = false;
    bool noFlipTexture = false;
    // --png-format: the uncompressed texture format edited pictures are stored in (0: each
    // texture's own).
    int32_t pngFormat = 0;
    // --png-level: zlib's level for exported PNG pictures, 0..9; the fastest by default.
    int pngLevel = 1;
    bool fontAsObject = false; // -f: every Font exported whole as ".fnt"
    bool verbose = false;      // -v: import tells every file of the tree, unchanged ones too
    // -j N: workers of a game folder run (0: one per core).
    unsigned jobs = 0;
    // --keep-catalog: a folder import leaves the Addressables catalog as it is.
    bool keepCatalog = false;
    // --types FILE (repeatable): files whose type trees serve objects whose own file strips
    // them; read once before the task (LoadTypeSources) into typeLibrary.
    std::vector<std::string> typeSources;
    std::shared_ptr<const TypeTreeLibrary> typeLibrary;
    // Opening fills the list rows the window shows; the command line prints rows as it goes.
    bool keepListRows = true;
    InterfaceTexts text = MakeLocalization(false);
    // Where the external crunch tool is looked for: the directory of the running executable.
    std::filesystem::path executableDir;

    bool Writes(OutputKind kind) const { return (outputs & kind) != 0; }
};

} // namespace kestrel
