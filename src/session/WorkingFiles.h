#pragma once
// Working files: the file split pieces are joined into and the decompressed copy of a compressed
// bundle. Each is a new file of this run, created exclusively under a name of its own
// ("ARCHIVE.kestrel-PID.TEMP", "ARCHIVE.kestrel-PID.joined"), so it never replaces, follows or
// shares a file of the user or of another Kestrel process, and a signal handler can remove it.
#include "io/Writer.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kestrel {

// Called as a working file grows: bytes written so far and the expected total (0 when unknown).
using WorkProgress = std::function<void(uint64_t done, uint64_t total)>;

// Creates a working file for `archive` named archive's file name + ".kestrel-PID" + suffix (the
// first free of that, "-1", "-2", ...), beside the archive, or in TMPDIR (else /tmp) when the
// archive's directory cannot be written. Before creating it, checks that declaredSize bytes fit
// the free space there (UINT64_MAX: size unknown, no check). Registers it as a scratch file.
std::unique_ptr<OutputFile> CreateWorkingFile(const std::filesystem::path& archive,
                                              std::string_view suffix, uint64_t declaredSize,
                                              std::filesystem::path& path);

// Raises a KestrelError naming `what` when `bytes` do not fit the space free in `dir`.
void RequireFreeSpace(const std::filesystem::path& dir, uint64_t bytes, const std::string& what);

// Joins the pieces joinedName + pieceSuffix + "0", "1", ... (while they exist) into a new working
// file for joinedName; returns its path and sets `pieces`. Removes the partly joined file when a
// piece cannot be read.
std::filesystem::path JoinPiecesIntoWorkingFile(const std::filesystem::path& joinedName,
                                                std::string_view pieceSuffix, uint32_t& pieces,
                                                const WorkProgress& progress);

// Removes what runs killed outright left for `archive` (for split pieces: their joined name, "NAME"
// of "NAME.split0"), beside it and in TMPDIR: its working files ("ARCHIVE.kestrel-PID.TEMP",
// ".joined"), the ".blocks" files earlier versions packed through and the temporary files of their
// rewrites; with `pieceStem` ("NAME.split"), the new pieces of an import stopped before its commit
// (call it once a stopped commit has been completed). Only files whose names are exactly those and
// whose lock no live run holds are removed; returns how many.
size_t RemoveDeadWorkingFiles(const std::filesystem::path& archive, const std::string& pieceStem);

// True when `name` is one of the names RemoveDeadWorkingFiles looks for.
bool IsWorkingFileName(std::string_view name, std::string_view archiveFile,
                       std::string_view pieceStem);

// Deletes a working file of this run and forgets it as a scratch file.
void RemoveWorkingFile(const std::filesystem::path& path);

} // namespace kestrel
