#pragma once
#include <string>

namespace kestrel {

// Window captions and messages in the interface language (UTF-8).
struct InterfaceTexts {
    bool russian = false; // the language of the texts below
    std::string BtnOpen, BtnOpenFolder, BtnExportAll, BtnImportAll;
    std::string ModeSearchName, ModeSearchText, FindNext, FindPrev, ItemsSelect, MatchCase,
        LoopSearch;
    std::string LblArchive, LblSize, LblVersion, LblId, LblFiles;
    std::string ColNumber, ColName, ColType, ColSize, ColOffset;
    std::string MenuExportSelected, MenuExportSource, MenuExportJson, MenuExportPng, MenuSelectAll;
    std::string MsgFileNotFound, MsgWillBeSkipped, MsgMissingFile;
    std::string MsgMeshBigEndian, MsgMeshCompressed, MsgMeshFormat, MsgMeshConvert;
    // Command-line usage errors ("{}" stands for the option), the message of a window started
    // without a display, and what follows the name of a file that is no archive.
    std::string MsgUnknownOption, MsgOptionNeedsValue, MsgNeedsDisplay, MsgNotAnArchive;
    // The last line of an import ("{}" stands for the count of changed objects).
    std::string MsgImportWritten, MsgImportUnchanged;
    // The last line of a game folder run (archives, objects, failures, skipped files) and what an
    // import adds to it (archives written, archives without an export tree).
    std::string MsgFolderSummary, MsgFolderImported;
};

// `text` with its first "{}" replaced by `value`.
std::string WithValue(const std::string& text, const std::string& value);

// True when the effective locale (LC_ALL, else LC_MESSAGES, else LANG) starts with "ru_RU".
bool LocaleIsRussian();

InterfaceTexts MakeLocalization(bool russian);

// Fills the record in the language of the locale.
InterfaceTexts InitLocalization();

} // namespace kestrel
