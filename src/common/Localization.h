#pragma once
#include <string>

namespace kestrel {

// Window captions and messages in the interface language (UTF-8).
struct TLocalization {
    std::string BtnOpen, BtnExportAll, BtnImportAll;
    std::string ModeSearchName, ModeSearchText, FindNext, FindPrev, ItemsSelect, MatchCase,
        LoopSearch;
    std::string LblArchive, LblSize, LblVersion, LblId, LblFiles;
    std::string ColNumber, ColName, ColType, ColSize, ColOffset;
    std::string MenuExportSelected, MenuExportSource, MenuSelectAll;
    std::string MsgFileNotFound, MsgWillBeSkipped, MsgMissingFile;
    std::string MsgMeshBigEndian, MsgMeshCompressed, MsgMeshFormat, MsgMeshConvert;
};

// True when the effective locale (LC_ALL, else LC_MESSAGES, else LANG) starts with "ru_RU".
bool LocaleIsRussian();

TLocalization MakeLocalization(bool russian);

// Fills the record in the language of the locale.
TLocalization InitLocalization();

} // namespace kestrel
