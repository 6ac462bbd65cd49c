#include "app/HelpText.h"

#include <array>
#include <span>
#include <string_view>

namespace kestrel {
namespace {

// The usage block's lines are joined by CR LF with no break after the last one; the program
// writes each block as one console line.
constexpr auto kUsageEnglish = std::to_array<std::string_view>({
    "Kestrel, author: the Kestrel developers",
    "",
    "Uses:",
    "               Kestrel task <archive unity> [options]",
    "",
    "task:",
    "  export",
    "  Export all files from archive in directory \\Unity_Assets_Files\\name_archive\\",
    "  import",
    "  Import all files in archive from directory \\Unity_Assets_Files\\name_archive\\",
    "",
    "  exportbundle",
    "  Export bundle from archive in directory \\Unity_Assets_Files\\name_archive\\Bundle",
    "  list",
    "  List all objects of archive: number, name, type, size, offset (one line each)",
    "options:",
    "  -t <type> export import files by type (-t ttf,txt,114,tex,dds,crn,ktx,pvr,obj...)",
    "  -f export fonts in container with type fnt.",
    "",
    "  -p selected path for operations with files (-p \"PATH\"). Default where there is archive.",
    "  -no_flip_texture disabled flip texture dds.",
    "  -e <file> inner file of bundle by number from 0 or by name (-e 1, -e CAB-...). Default 0.",
    "",
    "  Used without parameters, run graphical interface.",
    "  All MonoBehaviour can be exported through option (-t 114), type files with a negative "
    "number.",
    "  Shemes convertation.",
});

constexpr auto kUsageRussian = std::to_array<std::string_view>({
    "Kestrel, автор: разработчики Kestrel",
    "",
    "Использование:",
    "               Kestrel задача <архив unity> [настройки]",
    "",
    "задача:",
    "  export",
    "  Распаковать все файлы из архива в каталог \\Unity_Assets_Files\\имя_архива\\",
    "  import",
    "  Запаковать все файлы в архив из каталога \\Unity_Assets_Files\\имя_архива\\",
    "  exportbundle",
    "  Распаковать bundle из архива в каталог \\Unity_Assets_Files\\имя_архива\\Bundle",
    "  list",
    "  Показать все объекты архива: номер, имя, тип, размер, смещение (по строке на объект)",
    "",
    "настройки:",
    "  -t <тип> экспорт импорт файлов по типу (-t ttf,txt,114,tex,dds,crn,ktx,pvr,obj...)",
    "  -f экспорт шрифтов в контейнере типом fnt.",
    "  -p выбранный путь для операций с файлами (-p \"PATH\"). По умолчанию где находится архив.",
    "  -no_flip_texture отключение переворачивания текстур dds.",
    "  -e <файл> внутренний файл bundle по номеру от 0 или по имени (-e 1, -e CAB-...). По "
    "умолчанию 0.",
    "",
    "  При запуске без параметров запускается графический интерфейс.",
    "  Все MonoBehaviour могут быть извлечены через настройку (-t 114), типы файлов с "
    "отрицательным числом.",
    "  Схемы конвертации.",
});

// clang-format off
constexpr std::array<std::string_view, 5> kTextureDiagram = {
    "  ┌───┐              ┌──────┐",
    "  │dds│ <═══════════ │      │",
    "  │ktx│    ┌───┐     │assets│",
    "  │pvr│ ═> │tex│ <═> │      │",
    "  └───┘    └───┘     └──────┘"
};

constexpr std::array<std::string_view, 6> kCompressonatorDiagram = {
    "  ┌─────────┐                                    ┌──────────┐   ",
    "  │   DDS   │     ┌────────────────────────┐     │compressed│ <═",
    "  │ARGB-8888│ <═> │The Compressonator - AMD│ <═> │   DDS    │   ",
    "  └─────────┘     └────────────────────────┘     │ATC_RGB4  │   ",
    "                                                 │ATC_RGBA8 │ ═>",
    "                                                 └──────────┘   "
};

constexpr std::array<std::string_view, 5> kCrunchDiagram = {
    "  ┌───┐    ┌──────────┐    ┌───┐              ┌──────┐",
    "  │   │ <═ │          │ <═ │   │ <═══════════ │      │",
    "  │dds│ ═> │crunch.exe│ ═> │crn│    ┌───┐     │assets│",
    "  └───┘    └──────────┘    │   │ ═> │tex│ <═> │      │",
    "                           └───┘    └───┘     └──────┘"
};

constexpr std::array<std::string_view, 5> kTextDiagram = {
    "  ┌───┐    ┌──────┐",
    "  │txt│ <═ │      │",
    "  │xml│    │assets│",
    "  │ttf│ ═> │      │",
    "  └───┘    └──────┘"
};

constexpr std::array<std::string_view, 5> kMeshDiagram = {
    "  ┌───┐               ┌──────┐",
    "  │   │ <════════════ │      │",
    "  │obj│    ┌────┐     │assets│",
    "  │   │    │mesh│ <═> │      │",
    "  └───┘    └────┘     └──────┘"
};

constexpr std::array<std::string_view, 4> kArchiveDiagram = {
    "     ┌──────────────┐    ┌──────────┐",
    "  <═ │ ARCHIVE.TEMP │ <═ │ UNINY3D  │",
    "  ═> │not compressed│ ═> │compressed│",
    "     └──────────────┘    └──────────┘"
};
// clang-format on

template <size_t N>
void AppendLines(std::string& out, const std::array<std::string_view, N>& lines) {
    for (std::string_view line : lines) {
        out.append(line);
        out.push_back('\n');
    }
}

template <size_t N> std::string JoinCrLf(const std::array<std::string_view, N>& lines) {
    std::string out;
    for (size_t i = 0; i < N; ++i) {
        if (i != 0) out.append("\r\n");
        out.append(lines[i]);
    }
    return out;
}

} // namespace

std::string HelpText(bool russian) {
    std::string out = russian ? JoinCrLf(kUsageRussian) : JoinCrLf(kUsageEnglish);
    out.push_back('\n');
    AppendLines(out, kTextureDiagram);
    out.append(russian ? "  Текстуры iOS ktx экспортируется только через настройку -t ktx.\r\n"
                         "  По умолчанию конвертируются в pvr.\r\n"
                       : "  Textures iOS ktx exporder only through option -t ktx\r\n"
                         "  Default converted in pvr.\r\n");
    out.push_back('\n');
    AppendLines(out, kCompressonatorDiagram);
    out.push_back('\n');
    AppendLines(out, kCrunchDiagram);
    out.append(russian ? "  CRN конвертируется через crunch.exe автоматически, если crunch.exe "
                         "находится к корне с Kestrel."
                       : "  CRN converted through crunch.exe automatically, if crunch.exe is at "
                         "the root with Kestrel.\r\n");
    out.append("\n\n");
    AppendLines(out, kTextDiagram);
    out.push_back('\n');
    AppendLines(out, kMeshDiagram);
    out.push_back('\n');
    AppendLines(out, kArchiveDiagram);
    return out;
}

std::string HelpLinesFor(const std::string& option, bool russian) {
    const std::span<const std::string_view> usage =
        russian ? std::span<const std::string_view>(kUsageRussian)
                : std::span<const std::string_view>(kUsageEnglish);
    std::string exact;
    std::string all;
    for (std::string_view line : usage) {
        if (!line.starts_with("  -")) continue;
        all.append(line).push_back('\n');
        const std::string_view word = line.substr(2, line.find(' ', 2) - 2);
        if (word == option) exact.append(line).push_back('\n');
    }
    return exact.empty() ? all : exact;
}

std::string ArchiveNotFoundText(bool russian) {
    return russian ? "Архив не найден: " : "Archive not found: ";
}

} // namespace kestrel
