// A game folder opened in the window: its archives by relative path in the drop-down, each one's
// rows and preview on choosing it, and Export all / Import all over the whole folder writing what
// the command line's folder run writes, ending with its summary words.
#include "ui/MainWindow.h"
#include "support/AssetsBuilder.h"
#include "support/BundleBuilder.h"
#include "support/Cli.h"
#include "support/StreamedBundle.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <sstream>

using namespace kestrel;
using namespace kestrel::test;
using namespace kestrel::ui;
namespace fs = std::filesystem;

namespace {

void Write(const fs::path& file, const std::vector<uint8_t>& bytes) {
    fs::create_directories(file.parent_path());
    WriteFileBytes(file, {bytes.begin(), bytes.end()});
}

std::vector<uint8_t> TextArchive(const std::string& text, size_t materialBytes = 200) {
    AssetsSpec plan;
    plan.objects.push_back({49, "readme", TextBody(text)});
    plan.objects.push_back({21, "m", NoiseBytes(materialBytes, 2)});
    return BuildAssetsFile(plan);
}

// Two archives of one name in different folders, a split archive, a bundle of several inner
// files with its .resS entry, and a file that is no archive.
void BuildGame(const fs::path& game) {
    Write(game / "Game_Data/level0", TextArchive("first level"));
    Write(game / "Game_Data/sub/level0", TextArchive("second level"));
    fs::create_directories(game / "Game_Data/split");
    WriteSplitPieces(game / "Game_Data/split/big.assets", TextArchive("in pieces", 3000), 1024);
    Write(game / "Game_Data/notes.txt", {'n', 'o'});
    fs::create_directories(game / "StreamingAssets/aa");
    WriteStreamedTextureBundle(game / "StreamingAssets/aa/hero.bundle");
}

// The game's own files: no export tree, no working copy of the window's open archive.
NamedFiles GameFiles(const fs::path& game) {
    NamedFiles files = FilesIn(game, /*wholeTree=*/true);
    std::erase_if(files, [](const auto& f) {
        return f.first.starts_with("Unity_Assets_Files/") ||
               f.first.find(".kestrel-") != std::string::npos;
    });
    return files;
}

std::string LastLine(const std::string& out) {
    std::istringstream lines(out);
    std::string last;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) last = line;
    return last;
}

std::vector<std::string> Listed(const QComboBox& box) {
    std::vector<std::string> items;
    for (int i = 0; i < box.count(); ++i)
        items.push_back(box.itemText(i).toStdString());
    return items;
}

TEST(FolderWindow, ListsArchivesShowsEachAndExportsAndImportsAllAsTheCommandLine) {
    TempDir dir;
    const fs::path game = dir / "game";
    const fs::path cli = dir / "cli";
    BuildGame(game);
    fs::copy(game, cli, fs::copy_options::recursive);
    const std::vector<std::string> archives = {"Game_Data/level0", "Game_Data/split/big.assets",
                                               "Game_Data/sub/level0",
                                               "StreamingAssets/aa/hero.bundle"};

    RunOptions options;
    options.text = MakeLocalization(false);
    MainWindow window(options);
    std::vector<std::string> messages;
    window.showMessage = [&](QMessageBox::Icon, const QString& text) {
        messages.push_back(text.toStdString());
    };
    window.OpenFolder(QString::fromStdString(game.string()));
    ASSERT_TRUE(messages.empty()) << messages[0];
    EXPECT_EQ(Listed(*window.innerFiles), archives);
    EXPECT_TRUE(window.exportAllButton->isEnabled());
    EXPECT_TRUE(window.importAllButton->isEnabled());

    // Chosen in the drop-down as a person does: its rows, and its text in the preview.
    emit window.innerFiles->activated(2);
    ASSERT_TRUE(messages.empty()) << messages[0];
    EXPECT_EQ(window.innerFiles->currentText().toStdString(), "Game_Data/sub/level0");
    ASSERT_EQ(window.model->rowCount(), 2);
    window.list->setCurrentIndex(window.model->index(0, 0));
    window.PreviewCurrentRow();
    for (int k = 0; k < 20000 && window.preview->Pending(); ++k) {
        QCoreApplication::processEvents();
        QThread::usleep(500);
    }
    EXPECT_EQ(window.preview->text->toPlainText().toStdString(), "second level");

    // A bundle lists its inner files below it; the one shown is the current item.
    emit window.innerFiles->activated(3);
    ASSERT_TRUE(messages.empty()) << messages[0];
    const size_t inner = window.OpenArchive()->InnerFileNames().size();
    ASSERT_GE(inner, 2u);
    EXPECT_EQ(window.innerFiles->count(), static_cast<int>(archives.size() + inner));
    EXPECT_EQ(window.innerFiles->currentIndex(),
              static_cast<int>(archives.size() + window.ShownInnerFile().index));
    EXPECT_GT(window.model->rowCount(), 0);

    window.exportAllButton->click();
    const CliResult exported = RunKestrel({"export", cli.string()}, "C.UTF-8");
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(window.statusLine->toolTip().toStdString(), LastLine(exported.out));
    for (const std::string& a : archives)
        EXPECT_FALSE(FilesIn(game / "Unity_Assets_Files" / a, true).empty()) << a;
    EXPECT_EQ(FilesIn(game / "Unity_Assets_Files", true), FilesIn(cli / "Unity_Assets_Files", true));

    // Imported back unedited, no archive changes, and the bundle shown opens again with the
    // cursor on its row.
    window.list->setCurrentIndex(window.model->index(1, 0));
    const NamedFiles before = GameFiles(game);
    window.importAllButton->click();
    const CliResult imported = RunKestrel({"import", cli.string()}, "C.UTF-8");
    EXPECT_EQ(window.statusLine->toolTip().toStdString(), LastLine(imported.out));
    EXPECT_EQ(GameFiles(game), before);
    EXPECT_TRUE(messages.empty()) << messages[0];
    EXPECT_EQ(window.ShownFolderArchive(), 3u);
    EXPECT_EQ(window.list->currentIndex().row(), 1);
    window.close();
}

} // namespace
