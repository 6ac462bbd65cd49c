// The preview pane, the status bar, the sort toggle and the inner file a bundle opens on.
#include "common/BuildInfo.h"
#include "image/PictureFiles.h"
#include "image/PlaneConvert.h"
#include "session/Operations.h"
#include "support/AssetsBuilder.h"
#include "support/AudioObjects.h"
#include "support/BundleBuilder.h"
#include "support/MeshObjects.h"
#include "support/TempDir.h"
#include "support/TextureObjects.h"
#include "support/TypeTreeObjects.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <QHeaderView>
#include <QShortcut>
#include <QThread>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace kestrel;
using namespace kestrel::test;
using namespace kestrel::ui;
namespace fs = std::filesystem;

namespace {

// Engine 4 objects of each kind the preview tells apart, without type trees.
AssetsSpec KindsPlan() {
    AssetsSpec plan;
    plan.formatVersion = 9;
    plan.engineVersion = "4.6.0f3";
    TextureObjectSpec dxt5;
    dxt5.layout = TextureLayout::MipFlag;
    dxt5.width = dxt5.height = 64;
    dxt5.format = 12;
    dxt5.mip = 0;
    dxt5.pixels = TwoBandDXT5(64, 64);
    plan.objects.push_back({28, "sky", MakeTextureObject(dxt5, Endian::Little)});
    TextureObjectSpec rgba;
    rgba.layout = TextureLayout::MipFlag;
    rgba.width = rgba.height = 16;
    rgba.format = 4;
    rgba.mip = 0;
    rgba.pixels = TwoBandImage(16, 16, {255, 0, 0, 128}, {0, 0, 255, 255});
    plan.objects.push_back({28, "flag", MakeTextureObject(rgba, Endian::Little)});
    plan.objects.push_back({49, "note", TextBody("Grüße, traveller.\n")});
    plan.objects.push_back({43, "crate", MakeMeshBody(4, Endian::Little, MakeCubeMesh())});
    plan.objects.push_back({83, "chime", MakeEmbeddedAudioBody(4, Endian::Little, MakeTinyWav(80))});
    plan.objects.push_back({1, std::nullopt, std::vector<uint8_t>(5000, 0xAB)});
    return plan;
}

class PreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        options.text = MakeLocalization(false);
        window = std::make_unique<MainWindow>(options);
        window->showMessage = [this](QMessageBox::Icon, const QString& text) {
            messages.push_back(text.toStdString());
        };
        window->show();
    }
    void TearDown() override { window->close(); }

    fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path path = dir / name;
        WriteFileBytes(path, {bytes.begin(), bytes.end()});
        return path;
    }
    void Open(const fs::path& path) { window->OpenFile(QString::fromStdString(path.string())); }
    // Puts the cursor on a row (as a click does) and waits for its preview.
    void Preview(int row) {
        window->list->setCurrentIndex(window->model->index(row, 0));
        window->PreviewCurrentRow();
        // A worker that never answered would hang here; the bound only ends the wait.
        for (int k = 0; k < 20000 && window->preview->Pending(); ++k) {
            QCoreApplication::processEvents();
            QThread::usleep(500);
        }
        ASSERT_FALSE(window->preview->Pending());
    }
    std::string Status() const { return window->statusLine->toolTip().toStdString(); }

    TempDir dir;
    RunOptions options;
    std::unique_ptr<MainWindow> window;
    std::vector<std::string> messages;
};

TEST_F(PreviewTest, EachKindOfObjectShowsWhatItHolds) {
    Open(Write("kinds.assets", BuildAssetsFile(KindsPlan())));
    ASSERT_TRUE(messages.empty()) << messages[0];
    PreviewPane& pane = *window->preview;
    struct Case {
        int row;
        PreviewKind kind;
        std::string shown; // found in the text the pane shows for it
    };
    const Case cases[] = {
        {0, PreviewKind::Picture, "64 x 64"},
        {1, PreviewKind::Picture, "RGBA32"},
        {2, PreviewKind::Text, "Grüße, traveller."},
        {3, PreviewKind::Facts, "Vertices:&nbsp;</td><td>24</td></tr><tr><td>Triangles:&nbsp;</td><td>12"},
        {4, PreviewKind::Facts, "Frequency (Hz):&nbsp;</td><td>8,000"},
        {5, PreviewKind::Bytes, "00000000  ab ab ab"},
    };
    for (const Case& c : cases) {
        Preview(c.row);
        ASSERT_EQ(pane.ShownKind(), c.kind) << c.row;
        const QString all = pane.facts->text() + pane.text->toPlainText() +
                            pane.bytes->toPlainText();
        EXPECT_TRUE(all.contains(QString::fromStdString(c.shown))) << c.row << ": "
                                                                    << all.toStdString();
    }
    // The hex view reads the next page on demand.
    pane.pageOn->click();
    Preview(5); // the same row again starts on page 0
    EXPECT_FALSE(pane.pageBack->isEnabled());
    EXPECT_TRUE(pane.pageOn->isEnabled());
}

TEST_F(PreviewTest, ObjectsWithATypeTreeShowTheirFieldsArraysOnDemand) {
    AssetsSpec plan;
    plan.formatVersion = 22;
    plan.engineVersion = "2022.3.1f1";
    plan.typeTrees = true;
    plan.trees = {{-1, MonoBehaviourLikeTree()}};
    MonoBehaviourLike object;
    object.entries.assign(700, {"key", "value"});
    plan.objects.push_back({-1, std::nullopt, MonoBehaviourLikeBody(object)});
    Open(Write("level0.assets", BuildAssetsFile(plan)));
    Preview(0);
    ASSERT_EQ(window->preview->ShownKind(), PreviewKind::Fields);
    QTreeWidget& tree = *window->preview->fields;
    QTreeWidgetItem* entries = nullptr;
    for (int k = 0; k < tree.topLevelItemCount(); ++k)
        if (tree.topLevelItem(k)->text(0) == "m_Entries") entries = tree.topLevelItem(k);
    ASSERT_NE(entries, nullptr);
    EXPECT_EQ(entries->text(2).toStdString(), "[700]");
    EXPECT_EQ(entries->childCount(), 1); // a placeholder until opened
    entries->setExpanded(true);
    // One batch, then an item that brings the rest.
    ASSERT_EQ(entries->childCount(), 501);
    EXPECT_EQ(entries->child(0)->text(0).toStdString(), "[0]");
    emit tree.itemActivated(entries->child(500), 0);
    EXPECT_EQ(entries->childCount(), 700);
}

TEST_F(PreviewTest, TexturePreviewIsThePictureThePngExportWrites) {
    Open(Write("kinds.assets", BuildAssetsFile(KindsPlan())));
    const fs::path out = dir / "out";
    RunOptions png = options;
    png.outputs = kOutConvert | kOutPng;
    png.outputDir = out.string();
    SilentReporter quiet;
    const auto archive = Archive::Open((dir / "kinds.assets").string(), quiet);
    const ParsedInnerFile inner = archive->Parse(0, png, &quiet);
    ExportChosenObjects(*archive, inner, {0, 1}, png, quiet);
    for (int row : {0, 1}) {
        Preview(row);
        const QImage shown = window->preview->picture->Picture();
        fs::path file;
        for (const auto& e : fs::recursive_directory_iterator(out))
            if (e.path().filename() == window->ShownInnerFile().Items().ExportName[row] + ".png")
                file = e.path();
        ASSERT_FALSE(file.empty()) << row;
        image::ImagePlane written = image::ReadPng(file);
        image::TurnRows(written);
        ASSERT_EQ(shown.width(), static_cast<int>(written.width));
        ASSERT_EQ(shown.height(), static_cast<int>(written.height));
        const QImage rgba = shown.convertToFormat(QImage::Format_RGBA8888);
        for (int y = 0; y < rgba.height(); ++y)
            ASSERT_EQ(0, std::memcmp(rgba.constScanLine(y),
                                     written.rgba8.data() + static_cast<size_t>(y) * written.width * 4,
                                     written.width * 4))
                << "row " << row << " line " << y;
    }
}

TEST(PreviewLevel, TheSmallestLevelAtLeastAsLargeAsTheShownPicture) {
    struct Case {
        uint32_t width, height, levels, boxWidth, boxHeight, level;
    };
    const Case cases[] = {
        {2048, 2048, 12, 300, 300, 2},  {2048, 2048, 12, 512, 512, 2},
        {2048, 2048, 12, 513, 700, 1},  {2048, 2048, 12, 4096, 4096, 0},
        {1024, 256, 11, 300, 300, 1},   {2048, 2048, 1, 300, 300, 0},
        {2048, 2048, 12, 0, 300, 0},    {64, 64, 7, 1, 1, 6},
    };
    for (const Case& c : cases) {
        TexturePictureFacts facts;
        facts.width = c.width;
        facts.height = c.height;
        facts.levels = c.levels;
        EXPECT_EQ(LevelForBox(facts, c.boxWidth, c.boxHeight), c.level)
            << c.width << "x" << c.height << " in " << c.boxWidth << "x" << c.boxHeight;
    }
}

TEST(PreviewDecode, ADecodeAskedToStopEndsAtItsNextBandOfRows) {
    AssetsSpec plan;
    plan.formatVersion = 9;
    plan.engineVersion = "4.6.0f3";
    TextureObjectSpec tall;
    tall.layout = TextureLayout::MipFlag;
    tall.width = 8;
    tall.height = 256; // four bands of 64 rows
    tall.format = 4;
    tall.mip = 0;
    tall.pixels = TwoBandImage(8, 256, {1, 2, 3, 4}, {5, 6, 7, 8});
    plan.objects.push_back({28, "tall", MakeTextureObject(tall, Endian::Little)});
    TempDir dir;
    const fs::path file = dir / "tall.assets";
    const auto bytes = BuildAssetsFile(plan);
    WriteFileBytes(file, {bytes.begin(), bytes.end()});
    SilentReporter quiet;
    RunOptions options;
    const auto archive = Archive::Open(file.string(), quiet);
    const ParsedInnerFile inner = archive->Parse(0, options, &quiet);
    ObjectPreview preview(*archive, inner, options);
    for (int bandsLeft : {0, 1, 3, 4}) {
        int asked = 0;
        const auto picture = preview.Picture(0, 0, 0, [&] { return asked++ >= bandsLeft; });
        EXPECT_EQ(picture.has_value(), bandsLeft == 4) << bandsLeft;
        EXPECT_EQ(asked, std::min(bandsLeft + 1, 4)) << bandsLeft;
    }
}

TEST_F(PreviewTest, TheStatusBarSaysWhatTheLastActionDid) {
    const fs::path file = Write("a.assets", BuildAssetsFile(KindsPlan()));
    Open(file);
    const std::string tree = (dir / "Unity_Assets_Files" / "a").string();
    struct Step {
        std::function<void()> act;
        std::string status;
    };
    const Step steps[] = {
        {[&] { window->ExportAll(); }, "6 objects exported to " + tree},
        {[&] { window->ImportAll(); }, "nothing changed, archive not written"},
        {[&] { window->findText->setText("zzz"); window->SearchStep(false); },
         "No match for \"zzz\""},
        {[&] {
             window->findText->setText("sky");
             window->loopSearch->setChecked(true);
             window->list->setCurrentIndex(window->model->index(3, 0));
             window->SearchStep(false);
         },
         "Search wrapped past the last row"},
    };
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(Status(), step.status);
    }
    // The exported folder is a link.
    window->ExportAll();
    EXPECT_TRUE(window->statusLine->text().contains(
        QStringLiteral("<a href=\"file://%1\">").arg(QString::fromStdString(tree))));

    // An edit makes the archive longer: the status and the size label say so.
    WriteFileBytes(fs::path(tree) / window->ShownInnerFile().Items().ExportName[2],
                   {'l', 'o', 'n', 'g', 'e', 'r', ' ', 't', 'e', 'x', 't', '.'});
    window->ImportAll();
    EXPECT_EQ(Status(), "1 object changed, archive written");
    EXPECT_EQ(window->sizeLabel->text().toStdString(),
              "Size: " + std::to_string(fs::file_size(file)));
    EXPECT_TRUE(messages.empty()) << messages[0];
}

TEST_F(PreviewTest, AFailedExportIsCountedWithItsMessages) {
    AssetsSpec plan = KindsPlan();
    // A texture whose pixels run past its object.
    TextureSpec broken;
    broken.format = 4;
    broken.width = broken.height = 64;
    broken.imageData.assign(16, 1);
    plan.objects.push_back({28, "broken", TextureBody(broken)});
    Open(Write("b.assets", BuildAssetsFile(plan)));
    window->ExportAll();
    EXPECT_NE(Status().find("; 1 of 7 objects failed"), std::string::npos) << Status();
    EXPECT_EQ(window->lastFailures.size(), 1u);
    EXPECT_TRUE(window->statusLine->text().contains("#failures"));
}

TEST_F(PreviewTest, ASecondClickOnAHeaderReversesTheOrderAndTheArrowShowsIt) {
    Open(Write("a.assets", BuildAssetsFile(KindsPlan())));
    const QHeaderView& header = *window->list->horizontalHeader();
    const auto& rows = window->ShownInnerFile().Items().listRows;
    for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder, Qt::AscendingOrder}) {
        window->SortByColumn(3);
        EXPECT_TRUE(header.isSortIndicatorShown());
        EXPECT_EQ(header.sortIndicatorSection(), 3);
        EXPECT_EQ(header.sortIndicatorOrder(), order);
        for (size_t k = 1; k < rows.size(); ++k) {
            if (order == Qt::AscendingOrder)
                EXPECT_LE(rows[k - 1].size, rows[k].size);
            else
                EXPECT_GE(rows[k - 1].size, rows[k].size);
        }
    }
}

TEST_F(PreviewTest, ABundleOpensOnItsFirstSerializedFile) {
    const auto assets = BuildAssetsFile(KindsPlan());
    struct Case {
        std::vector<InnerFile> files;
        int shown;
    };
    const Case cases[] = {
        {{{"CAB-a.resS", {1, 2, 3}, 0}, {"CAB-a", assets, 4}}, 1},
        {{{"CAB-a", assets, 4}, {"CAB-b", assets, 4}}, 0},
        {{{"x.resS", {1, 2, 3}, 0}, {"y.resource", {4}, 0}}, 0},
    };
    for (const Case& c : cases) {
        Open(Write("bundle.unity3d", BuildUnityFS(c.files).bytes));
        EXPECT_EQ(window->innerFiles->currentIndex(), c.shown);
        EXPECT_EQ(window->ShownInnerFile().index, static_cast<size_t>(c.shown));
    }
    // The old bundles carry no marks: resource files and assemblies are passed over by name.
    UnityRWOptions old;
    Open(Write("old.unity3d",
               BuildUnityRW({{"Assembly-CSharp.dll", {1, 2}}, {"CAB-c", assets}}, old).bytes));
    EXPECT_EQ(window->ShownInnerFile().index, 1u);
}

TEST_F(PreviewTest, TitleShortcutsAndFindPrevious) {
    EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("Kestrel ") +
                                                 QString::fromLatin1(kKestrelVersion) + ","));
    EXPECT_EQ(window->findPrev->text().toStdString(), "Find Previous");
    QStringList keys;
    for (const QShortcut* s : window->findChildren<QShortcut*>())
        keys << s->key().toString();
    for (const char* k : {"Ctrl+O", "Ctrl+Shift+O", "Ctrl+F", "F3", "Shift+F3", "Ctrl+Q"})
        EXPECT_TRUE(keys.contains(QString::fromLatin1(k))) << k;
    // Enter on a row opens the preview the splitter had closed.
    Open(Write("a.assets", BuildAssetsFile(KindsPlan())));
    window->split->setSizes({800, 0});
    window->list->setCurrentIndex(window->model->index(2, 0));
    EXPECT_EQ(window->preview->ShownKind(), std::nullopt);
    emit window->list->activated(window->model->index(2, 0));
    EXPECT_GT(window->split->sizes().value(1), 0);
    Preview(2);
    EXPECT_EQ(window->preview->ShownKind(), PreviewKind::Text);
}

TEST_F(PreviewTest, TheOpenDialogStartsInTheLastFolderAndOffersAllFiles) {
    const fs::path folder = dir / "games";
    fs::create_directories(folder);
    Open(Write("games/a.assets", BuildAssetsFile(KindsPlan())));
    QString shownFolder;
    QStringList filters;
    QTimer::singleShot(0, window.get(), [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            shownFolder = dialog->directory().absolutePath();
            filters = dialog->nameFilters();
            dialog->reject();
        }
    });
    window->openButton->click();
    EXPECT_EQ(shownFolder.toStdString(), folder.string());
    EXPECT_TRUE(filters.contains("All files (*)")) << filters.join(";").toStdString();
}

TEST(RussianWindow, ButtonsAreAsWideAsTheirCaptionsAndABrokenArchiveIsSaidInRussian) {
    RunOptions options;
    options.text = MakeLocalization(true);
    MainWindow window(options);
    std::vector<std::string> messages;
    window.showMessage = [&](QMessageBox::Icon, const QString& text) {
        messages.push_back(text.toStdString());
    };
    window.show();
    QCoreApplication::processEvents();
    for (const QPushButton* b : window.findChildren<QPushButton*>()) {
        if (b->isVisible()) {
            EXPECT_GE(b->width(), b->sizeHint().width()) << b->text().toStdString();
        }
    }
    TempDir dir;
    const fs::path file = dir / "broken.assets";
    WriteFileBytes(file, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'});
    window.OpenFile(QString::fromStdString(file.string()));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Kestrel не может открыть «broken.assets»", 0), 0u) << messages[0];
    window.close();
}

} // namespace

namespace {

// Real archives: the first object of each class the preview tells apart shows without an error.
TEST(PreviewSamples, EachKindShowsOnRealArchives) {
    const fs::path samples = SamplesDir();
    if (samples.empty()) GTEST_SKIP() << "no samples in ../shared/samples";
    struct Case {
        const char* archive;
        std::vector<std::pair<int32_t, PreviewKind>> classes;
    };
    const Case cases[] = {
        {"ata4__disunity/bundle/3/bluedoor.unity3d",
         {{28, PreviewKind::Picture},
          {43, PreviewKind::Facts},
          {83, PreviewKind::Facts},
          {128, PreviewKind::Facts},
          {49, PreviewKind::Text}}},
        {"Banbadle__LethalCompanyUnityTemplate/Assets/AssetBundles/lethalextras",
         {{28, PreviewKind::Picture}, {43, PreviewKind::Facts}, {1, PreviewKind::Fields}}},
    };
    RunOptions options;
    options.text = MakeLocalization(false);
    MainWindow window(options);
    std::vector<std::string> messages;
    window.showMessage = [&](QMessageBox::Icon, const QString& text) {
        messages.push_back(text.toStdString());
    };
    window.show();
    for (const Case& c : cases) {
        const fs::path file = samples / c.archive;
        if (!fs::exists(file)) {
            ADD_FAILURE() << c.archive << " is missing from the samples";
            continue;
        }
        window.OpenFile(QString::fromStdString(file.string()));
        ASSERT_TRUE(messages.empty()) << messages[0];
        for (const auto& [classId, kind] : c.classes) {
            bool seen = false;
            // Every inner file of the bundle, from the one shown.
            for (int inner = 0; inner < window.innerFiles->count() && !seen; ++inner) {
                window.SelectInnerFile(inner);
                const auto& rows = window.ShownInnerFile().Items().rows;
                for (size_t i = 0; i < rows.size() && !seen; ++i) {
                    if (rows[i].ClassID != classId) continue;
                    seen = true;
                    window.list->setCurrentIndex(window.model->index(static_cast<int>(i), 0));
                    window.PreviewCurrentRow();
                    for (int k = 0; k < 20000 && window.preview->Pending(); ++k) {
                        QCoreApplication::processEvents();
                        QThread::usleep(500);
                    }
                    EXPECT_EQ(window.preview->ShownKind(), kind) << c.archive << " class " << classId;
                    EXPECT_NE(window.preview->pages->currentWidget(), window.preview->message)
                        << c.archive << " class " << classId << ": "
                        << window.preview->message->text().toStdString();
                }
            }
            EXPECT_TRUE(seen) << c.archive << " holds no object of class " << classId;
        }
    }
    window.close();
}

} // namespace
