// The manual page (dist/kestrel.1) and `kestrel --help` name the same options and task words.
// Only the words are compared: the two texts are written for different readers.
#include "support/Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>

using kestrel::test::RunKestrel;

namespace {

using Words = std::set<std::string>;

// Switches that stand in place of the task; the help may describe them in its own words.
const Words kStandaloneSwitches = {"--help", "-h", "--version"};

// The page's text, its roff minus signs and zero-width breaks as plain text.
std::string ManPageText() {
    const std::string roff = kestrel::test::ReadFileText(
        std::filesystem::path(KESTREL_SOURCE_DIR) / "dist/kestrel.1");
    return std::regex_replace(std::regex_replace(roff, std::regex(R"(\\-)"), "-"),
                              std::regex(R"(\\&|\\f.)"), "");
}

// Every "-x", "--word" or "-long_word" that stands as a token of its own.
Words OptionWords(const std::string& text) {
    static const std::regex option(R"((^|[\s(\["',|])(--?[a-z][a-z_]*(-[a-z]+)*)(?=$|[\s)\]"',.|=<]))");
    Words out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it)
        out.insert((*it)[2]);
    return out;
}

// The words after each ".TP" of the TASKS section: ".B export".
Words ManTaskWords(const std::string& page) {
    const size_t start = page.find("\n.SH TASKS\n");
    if (start == std::string::npos) return {};
    const std::string section = page.substr(start, page.find("\n.SH ", start + 1) - start);
    static const std::regex task(R"(\n\.TP\n\.B ([a-z]+)\n)");
    Words out;
    for (auto it = std::sregex_iterator(section.begin(), section.end(), task);
         it != std::sregex_iterator(); ++it)
        out.insert((*it)[1]);
    return out;
}

TEST(ManPage, NamesTheOptionsOfTheHelp) {
    const auto help = RunKestrel({"--help"}, "C.UTF-8");
    ASSERT_EQ(help.exitCode, 0);
    const Words helpOptions = OptionWords(help.out);
    const Words manOptions = OptionWords(ManPageText());
    ASSERT_TRUE(helpOptions.count("-t") == 1) << help.out;
    for (const std::string& option : helpOptions) {
        EXPECT_EQ(manOptions.count(option), 1u) << option << " is in --help, not in kestrel.1";
    }
    for (const std::string& option : manOptions) {
        if (kStandaloneSwitches.count(option) != 0) continue;
        EXPECT_EQ(helpOptions.count(option), 1u) << option << " is in kestrel.1, not in --help";
    }
    for (const std::string& option : kStandaloneSwitches) {
        EXPECT_EQ(manOptions.count(option), 1u) << option << " is missing from kestrel.1";
        EXPECT_EQ(RunKestrel({option}, "C.UTF-8").exitCode, 0) << option;
    }
}

// Each task of the page is in the help, and the program takes it as a task: with a missing
// archive it says so and exits with 1, where any other word gets the help and 2.
TEST(ManPage, NamesTheTasksOfTheHelp) {
    const auto help = RunKestrel({"--help"}, "C.UTF-8");
    const Words manTasks = ManTaskWords(ManPageText());
    ASSERT_EQ(manTasks, (Words{"export", "exportbundle", "import", "list"}));
    for (const std::string& task : manTasks) {
        EXPECT_TRUE(std::regex_search(help.out, std::regex("(^|\\n| )" + task + " ")))
            << task << " is not in --help";
        EXPECT_EQ(RunKestrel({task, "/nonexistent/archive.unity3d"}, "C.UTF-8").exitCode, 1)
            << task;
    }
}

} // namespace
