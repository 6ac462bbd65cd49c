#include "support/StreamedBundle.h"
#include "support/TempDir.h"
#include "ui/MainWindow.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

// "Export all" on an inner file whose texture streams from the bundle's own .resS entry exports
// that entry first, so the picture is written at once, without a message.
TEST(WindowArchiveModel, ExportAllWritesPicturesStreamedFromTheBundlesResourceEntry) {
    TempDir dir;
    WriteStreamedTextureBundle(dir / "scene.bundle");
    RunOptions options;
    ui::MainWindow window(options);
    std::vector<QString> messages;
    window.showMessage = [&](QMessageBox::Icon, const QString& text) { messages.push_back(text); };
    window.OpenFile(QString::fromStdString((dir / "scene.bundle").string()));
    ASSERT_NE(window.OpenArchive(), nullptr);
    ASSERT_EQ(window.ShownInnerFile().name, kStreamedOwner);
    window.ExportAll();
    EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
    const fs::path tree = dir / "Unity_Assets_Files" / "scene";
    EXPECT_TRUE(fs::is_regular_file(tree / "CAB-main/Textures/res_CAB-main/hero.tex.dds"));
    EXPECT_TRUE(fs::is_regular_file(tree / "CAB-main.resS/CAB-main.resS"));
}

} // namespace
