#include "common/Localization.h"

#include <cstdlib>
#include <string_view>

namespace kestrel {

bool LocaleIsRussian() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (value != nullptr && *value != '\0') {
            return std::string_view(value).starts_with("ru_RU");
        }
    }
    return false;
}

InterfaceTexts MakeLocalization(bool russian) {
    InterfaceTexts l;
    l.russian = russian;
    if (russian) {
        l.BtnOpen = "Открыть архив Unity";
        l.BtnOpenFolder = "Открыть папку игры";
        l.BtnExportAll = "Извлечь все файлы";
        l.BtnImportAll = "Запаковать все файлы";
        l.ModeSearchName = "Поиск имени";
        l.ModeSearchText = "Поиск текста";
        l.FindNext = "Найти следующий";
        l.FindPrev = "Найти предыдущий";
        l.ItemsSelect = "Выделить найденные";
        l.MatchCase = "Учитывать регистр";
        l.LoopSearch = "Зациклить поиск";
        l.LblArchive = "Архив: ";
        l.LblSize = "Размер: ";
        l.LblVersion = "Версия: ";
        l.LblId = " id: ";
        l.LblFiles = "Файлов: ";
        l.ColNumber = "№";
        l.ColName = "Имя";
        l.ColType = "Тип";
        l.ColSize = "Размер";
        l.ColOffset = "Смещение";
        l.MenuExportSelected = "Извлечь выделенное";
        l.MenuExportSource = "Извлечь исходными файлами";
        l.MenuExportJson = "Извлечь как JSON";
        l.MenuExportPng = "Извлечь картинками PNG";
        l.MenuSelectAll = "Выделить всё";
        l.MsgFileNotFound = "Файл не найден в архиве: ";
        l.MsgWillBeSkipped = "И будет пропущен.";
        l.MsgImportWritten = "изменено объектов: {}, архив записан";
        l.MsgImportUnchanged = "ничего не изменилось, архив не записан";
        l.MsgFolderSummary = "архивов: {}, объектов: {}, сбоев: {}, пропущено файлов: {}";
        l.MsgFolderImported = "; записано архивов: {}, без дерева экспорта: {}";
        l.MsgMissingFile = "Отсутствует файл: ";
        l.MsgMeshBigEndian = "Not supported convertanion meshes big endian.";
        l.MsgMeshCompressed = "Сжатые mesh не поддерживаются.";
        l.MsgMeshFormat = "Ошибка памяти: Этот формат mesh не поддерживаются!!!";
        l.MsgMeshConvert = "Ошибка конвертации mesh!!!";
        l.MsgUnknownOption = "Неизвестная настройка: {}; настройки такие:";
        l.MsgOptionNeedsValue = "Настройке {} нужно значение:";
        l.MsgNeedsDisplay =
            "Для окна Kestrel нужен дисплей (DISPLAY не задан); для командной строки "
            "запустите его с задачей: kestrel export <архив> (kestrel help "
            "перечисляет задачи).\n";
        l.MsgNotAnArchive = ": это не архив, который Kestrel может прочитать";
    } else {
        l.BtnOpen = "Open archive Unity";
        l.BtnOpenFolder = "Open game folder";
        l.BtnExportAll = "Export all files";
        l.BtnImportAll = "Import all files";
        l.ModeSearchName = "Search Name";
        l.ModeSearchText = "Search Text";
        l.FindNext = "Find Next";
        l.FindPrev = "Find Previous";
        l.ItemsSelect = "Items Select";
        l.MatchCase = "Match Case";
        l.LoopSearch = "Loop Search";
        l.LblArchive = "Archive: ";
        l.LblSize = "Size: ";
        l.LblVersion = "Version: ";
        l.LblId = " id: ";
        l.LblFiles = "Files: ";
        l.ColNumber = "#";
        l.ColName = "Name";
        l.ColType = "Type";
        l.ColSize = "Size";
        l.ColOffset = "Offset";
        l.MenuExportSelected = "Export selected";
        l.MenuExportSource = "Export source files";
        l.MenuExportJson = "Export as JSON";
        l.MenuExportPng = "Export as PNG pictures";
        l.MenuSelectAll = "Select all";
        l.MsgFileNotFound = "File not found in archive: ";
        l.MsgWillBeSkipped = "And it will be skipped.";
        l.MsgImportWritten = "{} objects changed, archive written";
        l.MsgImportUnchanged = "nothing changed, archive not written";
        l.MsgFolderSummary = "{} archives, {} objects, {} failures, {} files skipped";
        l.MsgFolderImported = "; {} archives written, {} without an export tree";
        l.MsgMissingFile = "Missing file: ";
        l.MsgMeshBigEndian = "Not supported convertanion meshes big endian.";
        l.MsgMeshCompressed = "Compression meshes are not supported.";
        l.MsgMeshFormat = "Error memory: This format meshes not supported!!!";
        l.MsgMeshConvert = "Error: Convertanion mesh!!!";
        l.MsgUnknownOption = "Unknown option: {}; the options are:";
        l.MsgOptionNeedsValue = "Option {} needs a value:";
        l.MsgNeedsDisplay =
            "Kestrel needs a display for its window (DISPLAY is not set); run it with "
            "a task for the command line: kestrel export <archive> (kestrel help "
            "lists the tasks).\n";
        l.MsgNotAnArchive = ": not an archive Kestrel can read";
    }
    return l;
}

std::string WithValue(const std::string& text, const std::string& value) {
    std::string out = text;
    if (const size_t at = out.find("{}"); at != std::string::npos) out.replace(at, 2, value);
    return out;
}

InterfaceTexts InitLocalization() {
    return MakeLocalization(LocaleIsRussian());
}

} // namespace kestrel
