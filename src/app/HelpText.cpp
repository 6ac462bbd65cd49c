#include "app/HelpText.h"

#include <array>
#include <span>
#include <string_view>

namespace kestrel {
namespace {

// The usage block. HelpLinesFor picks from it an option's line ("  -x ...") with the lines that
// go on with it (indented further).
// clang-format off
constexpr auto kUsageEnglish = std::to_array<std::string_view>({
    "Kestrel lists the objects of Unity engine archives, exports them to files you",
    "can edit and imports the edited files back.",
    "",
    "Usage:",
    "  kestrel TASK ARCHIVE [OPTIONS]",
    "  kestrel [ARCHIVE]    open the window (on the archive when one is given)",
    "  kestrel help         print this help (also --help)",
    "  kestrel --version    print the version",
    "",
    "Tasks:",
    "  export        export every object to DIR/Unity_Assets_Files/ARCHIVE_NAME/",
    "  import        import the edited files of DIR/Unity_Assets_Files/ARCHIVE_NAME/",
    "  exportbundle  export a bundle's inner files unchanged to",
    "                DIR/Unity_Assets_Files/ARCHIVE_NAME/Bundle/",
    "  list          list every object: number, name, type, size, offset",
    "  DIR is the archive's folder, or the one -p gives.",
    "  ARCHIVE may be a game folder: every archive below it (found by content),",
    "  each tree at DIR/Unity_Assets_Files/RELATIVE/PATH/FILE_NAME/.",
    "",
    "Options:",
    "  -t <types>    export or import only these types",
    "                (-t ttf,txt,114,tex,dds,crn,ktx,pvr,png,obj...)",
    "                -t json: every object with a type tree also as",
    "                NAME.EXT.json (with other types: only those); import",
    "                takes edited .json files back",
    "  -f            export fonts as whole objects of type fnt",
    "  -p <dir>      the folder for Unity_Assets_Files (-p \"PATH\");",
    "                default: the archive's folder",
    "  -no_flip_texture  write DDS rows as stored (bottom-up), not upright",
    "  -e <file>     one inner file of a bundle, by number from 0 or by name",
    "                (-e 1, -e CAB-...); without -e all of them",
    "  --png-format <format>  import edited PNG/EXR pictures of textures in this",
    "                uncompressed format (RGBA32, ARGB32, RGB24, BGRA32, RGBA4444,",
    "                ARGB4444, RGB565, Alpha8, R8, R16, RHalf, RGBAHalf, RFloat,",
    "                RGBAFloat... or its number); without it an edited picture",
    "                takes its texture's format, and PVRTC, ATC or crunched",
    "                textures cannot take one",
    "  --png-level <0-9>  export: zlib's level for PNG pictures (default 1,",
    "                the fastest; 9 for the smallest files)",
    "  -v            import: tell every file of the tree, unchanged ones too",
    "  -j <n>        a folder: n archives at once (default: one per core)",
    "  --keep-catalog  a folder import: leave the Addressables catalog.json",
    "                as it is (by default the CRC of each bundle written is",
    "                set to 0 there, the old catalog kept as catalog.json.bak)",
    "  --types <file>  type trees for files that strip them (a bundle of the same",
    "                engine version, or a file holding the same script); each",
    "                serves only objects whose type hash matches; repeatable",
    "",
    "  MonoBehaviour objects are exported with -t 114; script types have",
    "  negative numbers.",
    "",
    "Conversions:",
});

constexpr auto kUsageRussian = std::to_array<std::string_view>({
    "Kestrel показывает объекты архивов движка Unity, извлекает их в файлы для",
    "правки и запаковывает исправленные файлы обратно.",
    "",
    "Использование:",
    "  kestrel ЗАДАЧА АРХИВ [НАСТРОЙКИ]",
    "  kestrel [АРХИВ]      открыть окно (с архивом, если он указан)",
    "  kestrel help         показать эту справку (или --help)",
    "  kestrel --version    показать версию",
    "",
    "Задачи:",
    "  export        извлечь все объекты в КАТАЛОГ/Unity_Assets_Files/ИМЯ_АРХИВА/",
    "  import        запаковать исправленные файлы из",
    "                КАТАЛОГ/Unity_Assets_Files/ИМЯ_АРХИВА/",
    "  exportbundle  извлечь внутренние файлы bundle без изменений в",
    "                КАТАЛОГ/Unity_Assets_Files/ИМЯ_АРХИВА/Bundle/",
    "  list          показать все объекты: номер, имя, тип, размер, смещение",
    "  КАТАЛОГ: каталог архива или тот, что задан -p.",
    "  АРХИВ может быть каталогом игры: все архивы в нём (узнаются по содержимому),",
    "  дерево каждого в КАТАЛОГ/Unity_Assets_Files/ОТНОСИТЕЛЬНЫЙ/ПУТЬ/ИМЯ_ФАЙЛА/.",
    "",
    "Настройки:",
    "  -t <типы>     извлекать или запаковывать только эти типы",
    "                (-t ttf,txt,114,tex,dds,crn,ktx,pvr,png,obj...)",
    "                -t json: каждый объект с деревом типов ещё и как",
    "                ИМЯ.РАСШ.json (с другими типами: только они); import",
    "                забирает исправленные файлы .json обратно",
    "  -f            извлекать шрифты целыми объектами типа fnt",
    "  -p <каталог>  каталог для Unity_Assets_Files (-p \"ПУТЬ\");",
    "                по умолчанию каталог архива",
    "  -no_flip_texture  записывать строки DDS как хранятся (снизу вверх)",
    "  -e <файл>     один внутренний файл bundle, по номеру от 0 или по имени",
    "                (-e 1, -e CAB-...); без -e все",
    "  --png-format <формат>  запаковывать исправленные картинки PNG/EXR текстур",
    "                в этом несжатом формате (RGBA32, ARGB32, RGB24, BGRA32,",
    "                RGBA4444, ARGB4444, RGB565, Alpha8, R8, R16, RHalf, RGBAHalf,",
    "                RFloat, RGBAFloat... или его номер); без неё картинка",
    "                сжимается в формат текстуры, а текстуры PVRTC, ATC и crunch",
    "                так не запаковываются",
    "  --png-level <0-9>  export: уровень сжатия zlib для картинок PNG",
    "                (по умолчанию 1, быстрее всего; 9: файлы меньше всего)",
    "  -v            import: называть все файлы дерева, и неизменённые",
    "  -j <n>        каталог: n архивов одновременно (по умолчанию: число ядер)",
    "  --keep-catalog  import каталога: не менять catalog.json Addressables",
    "                (иначе CRC каждого записанного bundle обнуляется в нём,",
    "                старый каталог сохраняется как catalog.json.bak)",
    "  --types <файл>  деревья типов для файлов без них (bundle той же версии",
    "                движка или файл с тем же скриптом); дерево служит только",
    "                объектам с тем же хешем типа; можно указать несколько раз",
    "",
    "  Объекты MonoBehaviour извлекаются с -t 114; типы скриптов имеют",
    "  отрицательные номера.",
    "",
    "Преобразования:",
});
// clang-format on

// clang-format off
constexpr std::array<std::string_view, 5> kTextureDiagram = {
    "  ┌───┐              ┌──────┐",
    "  │dds│ <═══════════ │      │",
    "  │ktx│    ┌───┐     │assets│",
    "  │pvr│ ═> │tex│ <═> │      │",
    "  └───┘    └───┘     └──────┘"
};

constexpr std::array<std::string_view, 6> kAtcDiagram = {
    "  ┌─────────┐     ┌─────────────────────┐     ┌──────────┐",
    "  │   DDS   │     │   a converter that  │     │compressed│ <═",
    "  │ARGB-8888│ <═> │     knows ATC       │ <═> │   DDS    │",
    "  └─────────┘     │(compressonatorcli…) │     │ATC_RGB4  │",
    "                  └─────────────────────┘     │ATC_RGBA8 │ ═>",
    "                                              └──────────┘"
};

constexpr std::array<std::string_view, 5> kCrunchDiagram = {
    "  ┌───┐    ┌──────┐    ┌───┐              ┌──────┐",
    "  │   │ <═ │      │ <═ │   │ <═══════════ │      │",
    "  │dds│ ═> │crunch│ ═> │crn│    ┌───┐     │assets│",
    "  └───┘    └──────┘    │   │ ═> │tex│ <═> │      │",
    "                       └───┘    └───┘     └──────┘"
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
    "     ┌────────────────────────┐    ┌──────────┐",
    "  <═ │ARCHIVE.kestrel-PID.TEMP│ <═ │ UNITY3D  │",
    "  ═> │     not compressed     │ ═> │compressed│",
    "     └────────────────────────┘    └──────────┘"
};
// clang-format on

template <size_t N>
void AppendLines(std::string& out, const std::array<std::string_view, N>& lines) {
    for (std::string_view line : lines) {
        out.append(line);
        out.push_back('\n');
    }
}

} // namespace

std::string HelpText(bool russian) {
    std::string out;
    if (russian) {
        AppendLines(out, kUsageRussian);
    } else {
        AppendLines(out, kUsageEnglish);
    }
    AppendLines(out, kTextureDiagram);
    out.append(
        russian
            ? "  Текстуры ETC, EAC, ASTC и PVRTC записываются в pvr, в ktx только с -t ktx.\n"
            : "  ETC, EAC, ASTC and PVRTC textures are written as pvr, as ktx only with -t ktx.\n");
    out.push_back('\n');
    AppendLines(out, kAtcDiagram);
    out.push_back('\n');
    AppendLines(out, kCrunchDiagram);
    out.append(
        russian ? "  CRN преобразуется программой crunch (или crunch_x64), если она лежит в\n"
                  "  одном каталоге с kestrel.\n"
                : "  CRN is converted by the crunch (or crunch_x64) program when it lies in the\n"
                  "  same folder as kestrel.\n");
    out.push_back('\n');
    AppendLines(out, kTextDiagram);
    out.push_back('\n');
    AppendLines(out, kMeshDiagram);
    out.push_back('\n');
    AppendLines(out, kArchiveDiagram);
    out.append(russian
                   ? "  Сжатый архив распаковывается в рабочую копию рядом с ним (или в TMPDIR),\n"
                     "  которая удаляется в конце.\n"
                   : "  A compressed archive is unpacked into a working copy beside it (or in\n"
                     "  TMPDIR), which is removed at the end.\n");
    return out;
}

std::string HelpLinesFor(const std::string& option, bool russian) {
    const std::span<const std::string_view> usage =
        russian ? std::span<const std::string_view>(kUsageRussian)
                : std::span<const std::string_view>(kUsageEnglish);
    std::string exact;
    std::string all;
    bool inOption = false;
    bool matches = false;
    for (std::string_view line : usage) {
        if (line.starts_with("  -")) {
            inOption = true;
            const std::string_view word = line.substr(2, line.find(' ', 2) - 2);
            matches = word == option;
        } else if (!inOption || !line.starts_with("      ")) {
            inOption = false;
            continue;
        }
        all.append(line).push_back('\n');
        if (matches) exact.append(line).push_back('\n');
    }
    return exact.empty() ? all : exact;
}

std::string ArchiveNotFoundText(bool russian) {
    return russian ? "Архив не найден: " : "Archive not found: ";
}

} // namespace kestrel
