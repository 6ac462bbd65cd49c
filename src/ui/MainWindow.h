#pragma once
#include "common/Reporter.h"
#include "session/Archive.h"
#include "session/ExportDriver.h"
#include "session/GameFolder.h"
#include "session/RunOptions.h"
#include "ui/ItemModel.h"
#include "ui/PreviewPane.h"
#include "ui/Sorting.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kestrel::ui {

// The progress bar inside a rounded frame whose colour follows the progress (light blue at 0,
// light green at 100) and fades back to blue in one second after an operation.
class ProgressFrame : public QWidget {
public:
    explicit ProgressFrame(QWidget* parent);
    QProgressBar* bar() const { return bar_; }
    // Sets the bar and the frame colour; nothing happens when the bar already shows percent.
    void UpdateProgress(int percent);
    // Starts the fade from the current colour back to blue (10 ms steps, 100 of them).
    void StartFade();
    bool Fading() const { return timer_.isActive(); }
    QColor FrameColour() const { return colour_; }
    static QColor ColourFor(double fraction);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QProgressBar* bar_;
    QTimer timer_;
    int fadeCounter_ = 100;
    QColor colour_;
};

class MainWindow;

// Shows what the core tells a person in the window: message boxes, the progress bar, and
// pending events processed while a long operation runs.
class WindowReporter : public Reporter {
public:
    explicit WindowReporter(MainWindow& window) : window_(window) {}
    void Notice(const std::string& text) override;
    void Alert(const std::string& text) override;
    void ProgressLine(const std::string&) override {}
    void Progress(int percent) override;
    void Breathe() override;
    // A folder run's progress: the bar follows it, and the window paints between archives.
    void ProgressText(int percent, const std::string& text) override;
    // The first breath of an operation always processes pending events.
    void StartOperation() { sinceBreath_.invalidate(); }
    // While collecting, alerts (the failures of single objects) are kept for the status bar
    // instead of each showing a box.
    void CollectAlerts(bool on) {
        collecting_ = on;
        alerts_.clear();
    }
    const std::vector<std::string>& Alerts() const { return alerts_; }

private:
    MainWindow& window_;
    bool collecting_ = false;
    std::vector<std::string> alerts_;
    QElapsedTimer sinceBreath_;
};

// The main window: open, export all and import all buttons, progress frame, labels, the inner
// file choice, the item list and the search strip.
class MainWindow : public QWidget {
public:
    explicit MainWindow(const RunOptions& options, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Opens an archive (from the file dialog, a drop, or the command line). Working files of the
    // archive open before are removed.
    void OpenFile(const QString& path);
    // Opens a game folder: its archives (found as the command line finds them) are listed by
    // relative path in the inner-file drop-down, and the first of them is opened. Export all and
    // Import all then act on the whole folder.
    void OpenFolder(const QString& path);
    // Opens archive `index` of the open game folder (in the walk's order).
    void SelectFolderArchive(size_t index);
    // The game folder open now, if any, and the archive of it shown.
    const std::optional<FolderContents>& OpenGameFolder() const { return folder_; }
    std::optional<size_t> ShownFolderArchive() const { return folderArchive_; }
    // Shows another inner file of the open bundle (parsed from its working file).
    void SelectInnerFile(int index);
    void ExportAll();
    // Exports the selected rows, in display order: raw objects, or converted source files.
    void ExportSelected(uint16_t outputs); // OutputKind bits
    // Exports the selected textures as pictures people open (PNG, EXR for float formats); other
    // selected objects are passed over.
    void ExportSelectedPictures();
    void ImportAll();
    // Sorts by the column; a second click on the same column reverses the order.
    void SortByColumn(int column);
    // Shows the focused row in the preview pane (opening the pane when it was closed).
    void PreviewCurrentRow();
    // Next (backward false) or previous match after the focused row.
    void SearchStep(bool backward);
    void SelectAllMatches();
    // True while an open, export or import runs.
    bool Busy() const { return busy_; }

    // Shows a message; tests replace it to record messages instead of showing boxes.
    std::function<void(QMessageBox::Icon, const QString&)> showMessage;
    // The object indices of the selected rows, in display order.
    std::vector<size_t> SelectedObjects() const;
    // The archive open now (nullptr before the first open) and the inner file shown.
    const Archive* OpenArchive() const { return archive_.get(); }
    const ParsedInnerFile& ShownInnerFile() const { return shown_; }

    // The widgets, named after their role in the window.
    QPushButton *openButton, *exportAllButton, *importAllButton;
    // The File menu: the buttons' actions, a game folder's open, and quit.
    QMenuBar* menus;
    QAction *openFolderAction, *exportAllAction, *importAllAction;
    ProgressFrame* progress;
    // What the last action did, in the words the command line prints; exports link their folder.
    QLabel* statusLine;
    // The messages of the objects the last export could not write.
    std::vector<std::string> lastFailures;
    QLabel *archiveLabel, *sizeLabel, *versionLabel, *filesLabel;
    QComboBox* innerFiles;
    QTableView* list;
    ItemModel* model;
    QSplitter* split; // the list and the preview pane
    PreviewPane* preview;
    QMenu* popup;
    QRadioButton *modeName, *modeText;
    QLineEdit* findText;
    QPushButton *findNext, *findPrev, *itemsSelect;
    QCheckBox *matchCase, *loopSearch;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* BuildTopArea();
    void BuildMenus();
    QWidget* BuildSearchStrip();
    void BuildList();
    void BuildPopup();
    void Retitle();
    // Runs a long operation with the buttons disabled; a KestrelError becomes a message box.
    bool RunOperation(const std::function<void()>& operation);
    void SetBusy(bool busy);
    void ShowArchive();
    // Parses inner file `index` of the open archive into the list, each row kept in its place
    // when `order` (the object numbers in display order) fits.
    void ShowInnerFile(size_t index, const std::vector<uint32_t>& order = {});
    // The options of one action: the window's options with these output kinds.
    RunOptions ActionOptions(uint16_t outputs) const;
    // Exports the selected rows (of textures only, when asked) as the output kinds say.
    void ExportSelectedAs(uint16_t outputs, bool texturesOnly);
    void ShowPopup(const QPoint& pos);
    bool CheckSearchText(const std::string& text);
    void SetStatus(const QString& text);
    void ResetSort();
    bool PreviewOpen() const;
    // Exports objects with their failures gathered for the status bar.
    void RunExport(const std::vector<size_t>& objects, const RunOptions& options);
    // An export's ending in the status bar.
    void ReportExport(const ExportCount& count, const RunOptions& options);
    QString T(const char* english, const char* russian) const;
    // The drop-down's choice `item`: an archive of the game folder, or an inner file of the
    // bundle shown.
    void ChooseListed(int item);
    // Fills the drop-down with the folder's archives and, below the one shown when it is a
    // bundle of several inner files, those files.
    void ListFolderArchives();
    // Export all or import all of the game folder, with one worker on this thread.
    void RunFolderTask(Task task);
    // Clears the list and what is open (archive and game folder) before another open.
    void ClearShown();
    // An archive that would not open, said plainly in a box and the status bar.
    void ReportOpenFailure(const QString& name, const std::string& failure);
    // Opens `file` in place of the archive shown (its export tree named `treeName` when given)
    // and shows its first serialized inner file; a failure is said under `shownName`.
    void OpenAndShow(const std::string& file, const std::string& treeName,
                     const QString& shownName);
    void BuildShortcuts();

    RunOptions options_;
    std::unique_ptr<Archive> archive_;
    ParsedInnerFile shown_;
    WindowReporter reporter_;
    bool busy_ = false;
    bool closeRequested_ = false;
    QString lastFolder_; // of the archive opened last: where the Open dialog starts
    // The game folder open, its path, and which of its archives is shown.
    std::optional<FolderContents> folder_;
    std::filesystem::path folderPath_;
    std::optional<size_t> folderArchive_;
    int sortColumn_ = -1;
    bool sortDescending_ = false;
};

} // namespace kestrel::ui
