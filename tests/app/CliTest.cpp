#include "support/Cli.h"
#include "app/HelpText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace kestrel;
using kestrel::test::RunKestrel;

namespace {

std::string Golden(const std::string& name) {
    return kestrel::test::ReadFileText(std::filesystem::path(KESTREL_SOURCE_DIR) /
                                       "tests/app/golden" / name);
}

TEST(Cli, UnknownTaskPrintsHelpAndExitsTwo) {
    auto r = RunKestrel({"foo"}, "C.UTF-8");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, Golden("help_en.txt"));
    EXPECT_EQ(r.err, "");
    auto other = RunKestrel({"Exports", "x", "-t", "tex"}, "en_US.UTF-8");
    EXPECT_EQ(other.exitCode, 2);
    EXPECT_EQ(other.out, r.out);
}

TEST(Cli, HelpInRussianOnlyForRussianRussia) {
    auto ru = RunKestrel({"foo"}, "ru_RU.UTF-8");
    EXPECT_EQ(ru.exitCode, 2);
    EXPECT_EQ(ru.out, Golden("help_ru.txt"));
    EXPECT_EQ(RunKestrel({"foo"}, "uk_UA.UTF-8").out, Golden("help_en.txt"));
    EXPECT_EQ(RunKestrel({"foo"}, "ru_UA.UTF-8").out, Golden("help_en.txt"));
}

TEST(Cli, HelpIsWrittenForThisSystem) {
    for (const bool russian : {false, true}) {
        const std::string help = HelpText(russian);
        // Lines end in "\n" alone, paths use "/", and the tools named are the ones Kestrel runs.
        for (const char* foreign : {"\r", "\\", ".exe", "Compressonator - AMD", "ARCHIVE.TEMP"})
            EXPECT_EQ(help.find(foreign), std::string::npos) << foreign << " in " << russian;
        EXPECT_NE(help.find("/Unity_Assets_Files/"), std::string::npos);
        EXPECT_NE(help.find("ARCHIVE.kestrel-PID.TEMP"), std::string::npos);
        EXPECT_TRUE(help.ends_with("\n"));
    }
    // The diagrams are the same in both languages.
    const auto diagramLines = [](const std::string& s) {
        std::string lines;
        size_t start = s.find("  ┌───┐");
        while (start < s.size()) {
            size_t end = s.find('\n', start);
            const std::string line = s.substr(start, end - start);
            if (line.find("┌") != std::string::npos || line.find("└") != std::string::npos)
                lines += line + "\n";
            start = end + 1;
        }
        return lines;
    };
    EXPECT_EQ(diagramLines(HelpText(false)), diagramLines(HelpText(true)));
}

TEST(Cli, MissingArchiveIsReportedInTheLocaleLanguage) {
    auto en = RunKestrel({"export", "/no/such/file.assets"}, "C.UTF-8");
    EXPECT_EQ(en.exitCode, 1);
    EXPECT_EQ(en.out, "Archive not found: /no/such/file.assets\n");
    auto ru = RunKestrel({"EXPORT", "/no/such/file.assets"}, "ru_RU.UTF-8");
    EXPECT_EQ(ru.exitCode, 1);
    EXPECT_EQ(ru.out, "Архив не найден: /no/such/file.assets\n");
    auto none = RunKestrel({"list"}, "C.UTF-8");
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, "Archive not found: \n");
}

TEST(Cli, NoParametersWithoutADisplaySaysTheWindowNeedsOne) {
    auto r = RunKestrel({}, "C.UTF-8");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("needs a display"), std::string::npos) << r.err;
    EXPECT_NE(RunKestrel({}, "ru_RU.UTF-8").err.find("нужен дисплей"), std::string::npos);
}

TEST(Cli, ImportWithoutExportDirectoryFails) {
    kestrel::test::TempDir dir;
    const auto archive = dir / "a.b.assets";
    kestrel::test::WriteFileBytes(archive, {1, 2, 3});
    auto r = RunKestrel({"import", archive.string()}, "C.UTF-8");
    EXPECT_EQ(r.exitCode, 1);
    // Import looks for the directory the export writes: the archive's name up to its first dot.
    EXPECT_NE(r.err.find("Unity_Assets_Files/a does not exist"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

} // namespace
