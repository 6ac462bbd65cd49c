#pragma once
// An archive opened once for a whole run: its pieces joined, a compressed bundle decompressed
// into one working copy, its bundle directory read. Inner files are handed out by number or name
// and parsed from the working file without opening the archive again. Parsing is const and reads
// through positioned reads only, so several threads may parse and read one archive at once.
#include "assets/AssetsTypes.h"
#include "bundle/ArchiveWriter.h"
#include "bundle/BundleReader.h"
#include "bundle/BundleTypes.h"
#include "common/Reporter.h"
#include "io/ByteSource.h"
#include "session/RunOptions.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

// One parsed inner file of an archive (a plain file is its own only inner file).
struct ParsedInnerFile {
    size_t index = 0;         // among the bundle's inner files; 0 for a plain file
    std::string name;         // cut after the last "\" and "/" and made safe: its export directory
    std::string dirName;      // "<archive tree>" or "<archive tree>/<name>" (see TreeName)
    uint64_t base = 0;        // where it starts in the working file
    uint64_t size = 0;        // its bytes
    AssetsFile assets;        // header and item table; one resource item for other files
    std::string resourceKind; // for a file that is no assets file: "OggS", "MP3", "unknown"

    ItemTable& Items() { return assets.items; }
    const ItemTable& Items() const { return assets.items; }
    bool IsResourceItem() const { return assets.header.EngineMajorVersion == 0; }
};

class Archive {
public:
    // Opens the archive at `path`: joins ".split0" pieces, decompresses a compressed bundle into a
    // working copy (beside it, else in TMPDIR) and reads its directory. Progress goes to
    // `reporter`. Raises KestrelError naming the file on bad input; nothing it made is left then.
    static std::unique_ptr<Archive> Open(const std::string& path, Reporter& reporter,
                                         const InterfaceTexts& text = MakeLocalization(false));
    // Removes the working files this archive made.
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    const std::string& Name() const { return name_; }           // as the user named it
    const std::string& Directory() const { return directory_; } // ends with "/"
    const std::string& BaseName() const { return baseName_; }   // file name up to its first dot
    // The archive's export tree below "Unity_Assets_Files/": BaseName(), or in a game folder run
    // the archive's path relative to the folder ("GAME_Data/sharedassets0.assets").
    const std::string& TreeName() const { return treeName_; }
    // Names the export tree by a "/"-separated relative path; each component is made safe.
    void SetTreeName(const std::string& relativePath);
    const std::string& WorkFileName() const { return workFileName_; }
    const std::shared_ptr<const ByteSource>& Work() const { return work_; }
    bool IsBundle() const { return isBundle_; }
    const BundleStructure& Bundle() const { return bundle_; }
    uint32_t SplitPieceCount() const { return pieces_; }
    // The inner files' names as stored (empty for a plain file).
    const std::vector<std::string>& InnerFileNames() const { return innerNames_; }
    size_t InnerFileCount() const { return isBundle_ ? innerNames_.size() : 1; }
    // The working files this archive made ("ARCHIVE.kestrel-PID.TEMP", ".joined").
    const std::vector<std::string>& WorkingFiles() const { return workingFiles_; }

    // The inner file a selector names: by number, or by name (whole, or as cut after the last
    // "\" and "/"). Raises KestrelError listing the inner files when none matches.
    size_t Resolve(const EntrySelector& selector) const;
    // The inner file a person wants to see first: the first serialized file of a bundle (UnityFS
    // marks them; older bundles by a name that is no resource file or assembly), else 0.
    size_t FirstSerializedInnerFile() const;
    // Parses inner file `index`.
    ParsedInnerFile Parse(size_t index, const RunOptions& options, Reporter* reporter) const;
    // Raises "NAME: not an archive Kestrel can read" unless the archive is a bundle, an assets
    // file (its header shows an engine version) or a resource file (".resS", ".resource"): a
    // picture, a program or a file cut before its header is no archive to list, export or import.
    void RequireArchive(const InterfaceTexts& text) const;
    // The folder the export tree lies in for these options: -p, else the archive's directory.
    std::string OutputBaseDir(const RunOptions& options) const;

    // Takes the archive's import lock for one import (see ArchiveLockFile), and checks that the
    // archive's files are still those this archive read (no other program or run has written
    // them since). Raises a KestrelError naming the archive, and the lock's holder, otherwise.
    FileLock LockForImport() const;

    // Writes the archive with the new inner files through the archive writer (see WriteArchive);
    // afterwards the working file and the directory describe the new archive. On failure the
    // archive is unchanged and a KestrelError names it.
    void Write(const std::vector<InnerReplacement>& files, Reporter& reporter);

private:
    Archive() = default;
    void ReadDirectory();
    // Identity of each file the archive is made of (the archive or its pieces), as read.
    struct FileIdentity {
        std::string path;
        uint64_t device = 0, inode = 0, size = 0;
        int64_t modifiedNs = 0;
        friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    };
    std::vector<FileIdentity> Identities() const;
    std::vector<FileIdentity> identities_;

    std::string name_;
    std::string directory_;
    std::string baseName_;
    std::string treeName_;
    std::string workFileName_;
    std::shared_ptr<const ByteSource> work_;
    bool isBundle_ = false;
    bool resourceFile_ = false; // named as the engine names resource files
    BundleStructure bundle_;
    uint32_t pieces_ = 0;
    std::vector<InnerEntry> entries_;
    std::vector<std::string> innerNames_;
    std::vector<std::string> workingFiles_;
};

} // namespace kestrel
