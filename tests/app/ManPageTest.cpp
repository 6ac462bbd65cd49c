// The manual page (dist/kestrel.1) and `kestrel --help` name the same options and task words.
// Only the words are compared: the two texts are written for different readers.
#include "support/Cli.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

using kestrel::test::RunKestrel;

namespace {

using Words = std::set<std::string>;

// Switches that stand in place of the task; the help may describe them in its own words.
const Words kStandaloneSwitches = {"--help", "-h", "--version"};

std::string ManPageSource() {
    return kestrel::test::ReadFileText(std::filesystem::path(KESTREL_SOURCE_DIR) /
                                       "dist/kestrel.1");
}

// The page's text without roff escapes for the minus sign, fonts and zero-width breaks.
std::string RoffToText(std::string_view roff) {
    std::string out;
    for (size_t i = 0; i < roff.size(); ++i) {
        if (roff[i] == '\\' && i + 1 < roff.size()) {
            const char next = roff[i + 1];
            if (next == '-') {
                out.push_back('-');
                ++i;
                continue;
            }
            if (next == '&') {
                ++i;
                continue;
            }
            if (next == 'f' && i + 2 < roff.size()) {
                i += 2;
                continue;
            }
        }
        out.push_back(roff[i]);
    }
    return out;
}

std::string ToLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || c == '_';
}

// Every "-x" / "--word" that starts a token (after a blank, a bracket, a quote or a comma).
Words OptionWords(std::string_view text) {
    constexpr std::string_view kBefore = " \t\r\n([\"',|";
    Words out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '-' || (i != 0 && kBefore.find(text[i - 1]) == std::string_view::npos))
            continue;
        size_t end = i + 1;
        if (end < text.size() && text[end] == '-') ++end;
        const size_t nameStart = end;
        while (end < text.size() && IsWordChar(text[end]))
            ++end;
        const bool endsToken = end == text.size() || !(IsWordChar(text[end]) || text[end] == '-' ||
                                                       (text[end] >= '0' && text[end] <= '9'));
        if (end > nameStart && text[nameStart] != '_' && endsToken)
            out.insert(std::string(text.substr(i, end - i)));
        i = end;
    }
    return out;
}

// The words after each ".TP" of the TASKS section: ".B export".
Words ManTaskWords(const std::string& roff) {
    Words out;
    const size_t start = roff.find("\n.SH TASKS\n");
    const size_t end = roff.find("\n.SH ", start + 1);
    if (start == std::string::npos) return out;
    const std::string section = roff.substr(start, end - start);
    for (size_t at = section.find("\n.TP\n.B "); at != std::string::npos;
         at = section.find("\n.TP\n.B ", at + 1)) {
        const size_t wordStart = at + 8;
        out.insert(section.substr(wordStart, section.find('\n', wordStart) - wordStart));
    }
    return out;
}

// The help's words that the program takes as a task: with a missing archive it exits with 1
// ("Archive not found") where any other word gets the help and 2. A task word starts a line or
// follows the program's name.
Words HelpTaskWords(std::string_view help) {
    Words candidates;
    for (size_t i = 0; i < help.size(); ++i) {
        const bool atLineStart = i == 0 || help[i - 1] == '\n';
        const bool afterName = i >= 8 && ToLower(help.substr(i - 8, 8)) == "kestrel ";
        if (!atLineStart && !afterName) continue;
        size_t start = i;
        while (start < help.size() && help[start] == ' ')
            ++start;
        size_t end = start;
        while (end < help.size() && help[end] >= 'a' && help[end] <= 'z')
            ++end;
        const bool whole =
            end == help.size() || !std::isalpha(static_cast<unsigned char>(help[end]));
        if (end > start && whole) candidates.insert(std::string(help.substr(start, end - start)));
    }
    Words out;
    for (const std::string& word : candidates) {
        if (RunKestrel({word, "/nonexistent/archive.unity3d"}, "C.UTF-8").exitCode == 1)
            out.insert(word);
    }
    return out;
}

TEST(ManPage, NamesTheOptionsOfTheHelp) {
    const auto help = RunKestrel({"--help"}, "C.UTF-8");
    ASSERT_EQ(help.exitCode, 0);
    const Words helpOptions = OptionWords(help.out);
    const Words manOptions = OptionWords(RoffToText(ManPageSource()));
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

TEST(ManPage, NamesTheTasksOfTheHelp) {
    const auto help = RunKestrel({"--help"}, "C.UTF-8");
    const Words manTasks = ManTaskWords(ManPageSource());
    ASSERT_EQ(manTasks, (Words{"export", "exportbundle", "import", "list"}));
    EXPECT_EQ(HelpTaskWords(help.out), manTasks);
}

} // namespace
