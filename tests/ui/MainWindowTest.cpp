#include "ui/MainWindow.h"
#include "session/ConverterInput.h"
#include "support/AssetsBuilder.h"
#include "support/AudioObjects.h"
#include "support/BundleBuilder.h"
#include "support/TempDir.h"
#include "ui/ItemModel.h"
#include "ui/Search.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
using namespace kestrel::ui;
namespace fs = std::filesystem;

namespace {

AssetsObject Text(const std::string& name, const std::string& text) {
    return {49, name, TextBody(text)};
}

// Alpha.tex, beta.mat, ALPHABET.txt as text assets of growing size, a texture and a sound
// whose bytes hold "needle" too, and a text asset holding "needle" last.
AssetsSpec SearchPlan() {
    AssetsSpec plan;
    plan.formatVersion = 9;
    plan.engineVersion = "4.6.0f3";
    plan.objects = {Text("Alpha.tex", "one"), Text("beta.mat", "needle in beta, longer"),
                    Text("ALPHABET.txt", "")};
    TextureSpec texture;
    texture.format = 4;
    texture.imageData.assign(64, 'x');
    std::copy_n("needle", 6, texture.imageData.begin());
    plan.objects.push_back({28, "tex", TextureBody(texture)});
    const std::string needle = "needle";
    plan.objects.push_back(
        {83, "clip", MakeEmbeddedAudioBody(4, Endian::Little, {needle.begin(), needle.end()})});
    return plan;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        options.text = MakeLocalization(false);
        window = std::make_unique<MainWindow>(options);
        window->showMessage = [this](QMessageBox::Icon, const QString& text) {
            messages.push_back(text.toStdString());
        };
    }
    void TearDown() override { window->close(); }

    fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path path = dir / name;
        WriteFileBytes(path, {bytes.begin(), bytes.end()});
        return path;
    }
    void Open(const fs::path& path) { window->OpenFile(QString::fromStdString(path.string())); }
    std::string Cell(int row, int column) const {
        return window->model->index(row, column).data().toString().toStdString();
    }
    std::vector<int> SelectedRows() const {
        std::vector<int> rows;
        for (const QModelIndex& i : window->list->selectionModel()->selectedRows())
            rows.push_back(i.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    void Search(const std::string& text) {
        window->findText->setText(QString::fromStdString(text));
    }

    // The rows of the inner file the window shows.
    const ItemTable& Items() const { return window->ShownInnerFile().Items(); }

    TempDir dir;
    RunOptions options;
    std::unique_ptr<MainWindow> window;
    std::vector<std::string> messages;
};

TEST_F(WindowTest, RowsLabelsAndButtonsOfAnOpenedArchive) {
    EXPECT_FALSE(window->exportAllButton->isEnabled());
    EXPECT_FALSE(window->importAllButton->isEnabled());
    const fs::path file = Write("sharedassets0.assets", BuildAssetsFile(SearchPlan()));
    Open(file);
    ASSERT_TRUE(messages.empty()) << messages[0];
    EXPECT_EQ(window->model->rowCount(), 5);
    EXPECT_EQ(Cell(0, 0), "1");
    EXPECT_EQ(Cell(4, 2), "83 (AudioClip)");
    EXPECT_EQ(Cell(1, 3), std::to_string(Items().listRows[1].size));
    EXPECT_EQ(window->filesLabel->text().toStdString(), "Files: 5");
    EXPECT_EQ(window->sizeLabel->text().toStdString(),
              "Size: " + std::to_string(fs::file_size(file)));
    EXPECT_EQ(window->versionLabel->text().toStdString().rfind("Version: 4.6.0f3 id: 9 ", 0), 0u);
    EXPECT_EQ(window->innerFiles->currentText().toStdString(), "sharedassets0.assets");
    EXPECT_TRUE(window->exportAllButton->isEnabled());
    EXPECT_TRUE(window->importAllButton->isEnabled());
    EXPECT_EQ(window->width(), 817);
    EXPECT_EQ(window->height(), 704);

    TColumns_ListView row;
    row.offset = 4096;
    EXPECT_EQ(ItemModel::CellText(row, 4).toStdString(), "0x00001000");
    row.offset = 0xABCDEF012ull;
    EXPECT_EQ(ItemModel::CellText(row, 4).toStdString(), "0xABCDEF012");
}

TEST_F(WindowTest, EachColumnSortsAscendingAndNumberRestoresTableOrder) {
    AssetsSpec plan = SearchPlan();
    plan.objects.push_back({-3, "script", {1, 2, 3, 4}});
    plan.objects.push_back({1, std::nullopt, {}});
    Open(Write("a.assets", BuildAssetsFile(plan)));
    const auto& rows = Items().listRows;
    for (int column : {1, 2, 3, 4, 2, 0}) {
        window->SortByColumn(column);
        for (size_t k = 1; k < rows.size(); ++k) {
            const auto &a = rows[k - 1], &b = rows[k];
            switch (column) {
            case 0:
                EXPECT_EQ(b.number, k + 1);
                break;
            case 1:
                EXPECT_LE(a.name, b.name) << k;
                break;
            case 2:
                EXPECT_LE(uint32_t(a.typeId), uint32_t(b.typeId)) << k;
                break;
            case 3:
                EXPECT_LE(a.size, b.size) << k;
                break;
            case 4:
                EXPECT_LE(a.offset, b.offset) << k;
                break;
            }
        }
        // The view shows the records in their new order.
        EXPECT_EQ(Cell(0, 1), rows[0].name) << column;
    }
    window->SortByColumn(2);
    EXPECT_LT(rows.back().typeId, 0); // the script class, as unsigned, comes last
}

TEST_F(WindowTest, FindNextAndPreviousByName) {
    Open(Write("a.assets", BuildAssetsFile(SearchPlan())));
    Search("alpha");
    struct Step {
        bool backward, loop, matchCase;
        std::vector<int> selected;
    };
    // From no focused row: row 0, then row 2, then nothing new (row 2 stays), with loop row 0;
    // with Match_Case nothing at all (the focused row stays selected).
    const Step steps[] = {{false, false, false, {0}}, {false, false, false, {2}},
                          {false, false, false, {2}}, {false, true, false, {0}},
                          {false, true, true, {0}},   {true, true, false, {2}}};
    for (size_t i = 0; i < std::size(steps); ++i) {
        window->loopSearch->setChecked(steps[i].loop);
        window->matchCase->setChecked(steps[i].matchCase);
        (steps[i].backward ? window->findPrev : window->findNext)->click();
        EXPECT_EQ(SelectedRows(), steps[i].selected) << "step " << i;
    }
}

TEST_F(WindowTest, FindPreviousWithoutFocusTestsTheLastRowFirst) {
    Open(Write("a.assets", BuildAssetsFile(SearchPlan())));
    Search("clip");
    window->findPrev->click();
    EXPECT_EQ(SelectedRows(), std::vector<int>{4});
}

TEST_F(WindowTest, ItemsSelectSelectsEveryNameHoldingTheLetter) {
    Open(Write("a.assets", BuildAssetsFile(SearchPlan())));
    Search("a");
    window->itemsSelect->click();
    EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 1, 2}));
    Search("h"); // runs of adjacent matches with a gap
    window->itemsSelect->click();
    EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 2}));
}

TEST_F(WindowTest, ContentSearchFindsOnlyObjectsOutsideTexturesAndSounds) {
    Open(Write("a.assets", BuildAssetsFile(SearchPlan())));
    window->modeText->click();
    EXPECT_TRUE(window->matchCase->isChecked());
    EXPECT_FALSE(window->matchCase->isEnabled());
    Search("needle");
    window->itemsSelect->click();
    EXPECT_EQ(SelectedRows(), std::vector<int>{1});
    window->modeName->click();
    EXPECT_FALSE(window->matchCase->isChecked());
    EXPECT_TRUE(window->matchCase->isEnabled());
}

TEST_F(WindowTest, ContentSearchRefusesATextLongerThanAChunk) {
    Open(Write("a.assets", BuildAssetsFile(SearchPlan())));
    window->modeText->click();
    Search(std::string(kSearchChunk + 1, 'n'));
    window->findNext->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("1024000"), std::string::npos);
    EXPECT_TRUE(SelectedRows().empty());
}

TEST_F(WindowTest, ExportOfASelectionAfterASortExportsTheRowsShown) {
    Open(Write("a.assets", BuildAssetsFile(SearchPlan())));
    window->SortByColumn(1); // ALPHABET.txt, Alpha.tex, beta.mat, clip, tex
    window->list->selectRow(1);
    const std::vector<size_t> chosen = window->SelectedObjects();
    ASSERT_EQ(chosen, std::vector<size_t>{0});
    window->ExportSelected(kOutRawOnly);
    ASSERT_TRUE(messages.empty()) << messages[0];
    SilentReporter silent;
    const InnerScope scope{*window->OpenArchive(), window->ShownInnerFile(), options, silent};
    const fs::path tree = scope.OutputBaseDir() + scope.TreeRelative();
    std::vector<std::string> written;
    for (const auto& e : fs::recursive_directory_iterator(tree))
        if (e.is_regular_file()) written.push_back(e.path().filename().string());
    ASSERT_EQ(written.size(), 1u) << tree;
    EXPECT_EQ(written[0].rfind("Alpha.tex", 0), 0u) << written[0];
}

TEST_F(WindowTest, PicturesOfASelectionAreThePngFilesOfItsTexturesOnly) {
    Open(Write("a.assets", BuildAssetsFile(SearchPlan())));
    window->list->selectAll();
    window->ExportSelectedPictures();
    ASSERT_TRUE(messages.empty()) << messages[0];
    SilentReporter silent;
    const InnerScope scope{*window->OpenArchive(), window->ShownInnerFile(), options, silent};
    std::vector<std::string> written;
    for (const auto& e :
         fs::recursive_directory_iterator(scope.OutputBaseDir() + scope.TreeRelative()))
        if (e.is_regular_file()) written.push_back(e.path().filename().string());
    EXPECT_EQ(written, std::vector<std::string>{"tex.tex.png"});
}

TEST_F(WindowTest, ImportAllRefreshesTheRowsInTheirDisplayOrder) {
    Open(Write("a.assets", BuildAssetsFile(SearchPlan())));
    window->SortByColumn(1);
    // An edited file in the export tree makes the object 8 bytes longer; the rows show it.
    const fs::path tree = dir / "Unity_Assets_Files" / "a";
    fs::create_directories(tree);
    WriteFileBytes(tree / Items().ExportName[2], {'8', ' ', 'b', 'y', 't', 'e', 's', '.'});
    const uint32_t shownBefore = Items().listRows[0].size;
    window->importAllButton->click();
    EXPECT_EQ(Items().listRows[0].number, 3u);
    EXPECT_EQ(Cell(0, 3), std::to_string(shownBefore + 8));
    EXPECT_TRUE(window->importAllButton->isEnabled());
    EXPECT_TRUE(messages.empty()) << messages[0];
    EXPECT_EQ(window->statusLine->text().toStdString(), "1 object changed, archive written");
}

TEST_F(WindowTest, ButtonsAreDisabledDuringAnOperationAndEnabledAfter) {
    Open(Write("a.assets", BuildAssetsFile(SearchPlan())));
    std::vector<bool> during;
    QTimer::singleShot(0, window.get(), [&] {
        for (QWidget* w : {window->openButton, window->exportAllButton, window->importAllButton})
            during.push_back(w->isEnabled());
    });
    window->exportAllButton->click();
    EXPECT_EQ(during, (std::vector<bool>{false, false, false}));
    for (QWidget* w : {window->openButton, window->exportAllButton, window->importAllButton})
        EXPECT_TRUE(w->isEnabled());
    EXPECT_EQ(window->progress->bar()->value(), 100);
    EXPECT_TRUE(window->progress->Fading());
}

TEST_F(WindowTest, ProgressFrameGoesFromLightBlueToLightGreen) {
    EXPECT_EQ(ProgressFrame::ColourFor(0), QColor(155, 185, 235));
    EXPECT_EQ(ProgressFrame::ColourFor(0.5), QColor(173, 220, 208));
    EXPECT_EQ(ProgressFrame::ColourFor(1), QColor(190, 255, 180));
}

TEST_F(WindowTest, WorkingFilesRemovedOnOpeningAnotherArchiveAndOnClose) {
    const std::vector<InnerFile> inner = {{"CAB-one", BuildAssetsFile(SearchPlan()), 4},
                                          {"CAB-two", MinimalAssetsFile("5.6.3p1", 50), 4}};
    const fs::path bundle = Write("b.unity3d", BuildUnityFS(inner).bytes);
    const fs::path plain = Write("p.assets", BuildAssetsFile(SearchPlan()));
    Open(bundle);
    const std::string firstTemp = window->OpenArchive()->WorkFileName();
    ASSERT_TRUE(fs::exists(firstTemp));
    EXPECT_EQ(window->innerFiles->count(), 2);
    window->SelectInnerFile(1);
    EXPECT_TRUE(fs::exists(firstTemp)); // switching inner files keeps the working file
    EXPECT_EQ(window->versionLabel->text().toStdString().rfind("Version: 5.6.3p1", 0), 0u);
    Open(plain);
    EXPECT_FALSE(fs::exists(firstTemp));
    Open(bundle);
    const std::string secondTemp = window->OpenArchive()->WorkFileName();
    ASSERT_TRUE(fs::exists(secondTemp));
    window->close();
    EXPECT_FALSE(fs::exists(secondTemp));
    EXPECT_TRUE(fs::exists(bundle));
    Open(plain);
    window->close();
    EXPECT_TRUE(fs::exists(plain));
    EXPECT_TRUE(messages.empty()) << messages[0];
}

} // namespace
