#include "common/Localization.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

using namespace kestrel;

namespace {

// Sets the three locale variables for one test and restores them afterwards.
class LocaleEnv {
public:
    LocaleEnv(const char* all, const char* messages, const char* lang) {
        Set("LC_ALL", all);
        Set("LC_MESSAGES", messages);
        Set("LANG", lang);
    }
    ~LocaleEnv() {
        for (auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }
    LocaleEnv(const LocaleEnv&) = delete;
    LocaleEnv& operator=(const LocaleEnv&) = delete;

private:
    void Set(const std::string& name, const char* value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value) {
            setenv(name.c_str(), value, 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(Localization, RussianOnlyForRussianRussiaWithLocalePrecedence) {
    {
        LocaleEnv env(nullptr, nullptr, "ru_RU.UTF-8");
        EXPECT_TRUE(LocaleIsRussian());
        EXPECT_EQ(InitLocalization().BtnOpen, "Открыть архив Unity");
    }
    {
        LocaleEnv env("en_US.UTF-8", nullptr, "ru_RU.UTF-8"); // LC_ALL wins
        EXPECT_FALSE(LocaleIsRussian());
    }
    {
        LocaleEnv env(nullptr, "ru_RU.UTF-8", "en_GB.UTF-8"); // then LC_MESSAGES
        EXPECT_TRUE(LocaleIsRussian());
    }
    {
        LocaleEnv env("", "", "uk_UA.UTF-8"); // empty values do not count
        EXPECT_FALSE(LocaleIsRussian());
        EXPECT_EQ(InitLocalization().BtnOpen, "Open archive Unity");
    }
    {
        LocaleEnv env(nullptr, nullptr, "ru_UA.UTF-8");
        EXPECT_FALSE(LocaleIsRussian());
    }
}

TEST(Localization, MessagesOfBothLanguages) {
    const InterfaceTexts ru = MakeLocalization(true);
    const InterfaceTexts en = MakeLocalization(false);
    EXPECT_EQ(ru.MsgMeshBigEndian, en.MsgMeshBigEndian); // English in both languages
    EXPECT_EQ(en.MsgMeshBigEndian, "Not supported convertanion meshes big endian.");
    EXPECT_EQ(ru.MsgFileNotFound, "Файл не найден в архиве: ");
    EXPECT_EQ(en.LblId, " id: ");
    EXPECT_EQ(ru.ColNumber, "№");
    EXPECT_EQ(en.FindPrev, "Find Previous");
}

} // namespace
