#include "ui/MainWindow.h"

#include "assets/AssetsParser.h"
#include "assets/ClassId.h"
#include "assets/Vocabulary.h"
#include "common/Error.h"
#include "io/ByteSource.h"
#include "io/SafePath.h"
#include "common/BuildInfo.h"
#include "session/Operations.h"
#include "ui/Search.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDesktopServices>
#include <QDropEvent>
#include <QKeySequence>
#include <QSettings>
#include <QShortcut>
#include <QUrl>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace kestrel::ui {

namespace {

const QColor kFormColour(157, 185, 235);
// The drop-down's item data of a game folder: the archive's index, and the inner file's (-1 for
// the archive itself).
constexpr int kArchiveRole = Qt::UserRole;
constexpr int kInnerRole = Qt::UserRole + 1;
constexpr int kClientWidth = 817;
constexpr int kClientHeight = 704;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The open dialog's filters: the names archives of the engine are known to carry, then all
// files (bundles often have no extension at all).
const char* kOpenPatterns =
    "(*.asset* level* mainData globalgamemanagers *.unity3d *AssetBundle* *.bundle* "
    "*.assetbundle *.dat *data* *.TEMP *.split0 *CAB* "
    "?????????????????????????????\?\?\?)";

} // namespace

// ---- ProgressFrame ----

ProgressFrame::ProgressFrame(QWidget* parent)
    : QWidget(parent), bar_(new QProgressBar(this)), colour_(ColourFor(0)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 5);
    layout->addWidget(bar_);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    bar_->setFixedHeight(17);
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        --fadeCounter_;
        colour_ = ColourFor(fadeCounter_ / 100.0);
        update();
        if (fadeCounter_ <= 0) {
            fadeCounter_ = 100;
            timer_.stop();
        }
    });
}

QColor ProgressFrame::ColourFor(double x) {
    return QColor(static_cast<int>(std::lround(155 + 35 * x)),
                  static_cast<int>(std::lround(185 + 70 * x)),
                  static_cast<int>(std::lround(235 - 55 * x)));
}

void ProgressFrame::UpdateProgress(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (bar_->value() == percent) return;
    bar_->setValue(percent);
    colour_ = ColourFor(percent / 100.0);
    update();
}

void ProgressFrame::StartFade() {
    fadeCounter_ = 100;
    timer_.start();
}

void ProgressFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour_);
    painter.drawRoundedRect(rect(), 5, 5);
}

// ---- WindowReporter ----

void WindowReporter::Notice(const std::string& text) {
    window_.showMessage(QMessageBox::Information, Q(text));
}

void WindowReporter::Alert(const std::string& text) {
    if (collecting_) {
        alerts_.push_back(text);
        return;
    }
    window_.showMessage(QMessageBox::Warning, Q(text));
}

void WindowReporter::Progress(int percent) {
    window_.progress->UpdateProgress(percent);
}

void WindowReporter::ProgressText(int percent, const std::string& text) {
    window_.progress->UpdateProgress(percent);
    window_.statusLine->setText(Q(text).toHtmlEscaped());
    Breathe();
}

void WindowReporter::Breathe() {
    // Painting and input are handled every 20 ms or so, not after every one of many objects.
    if (sinceBreath_.isValid() && sinceBreath_.elapsed() < 20) return;
    sinceBreath_.start();
    QCoreApplication::processEvents();
}

// ---- MainWindow ----

MainWindow::MainWindow(const RunOptions& options, QWidget* parent)
    : QWidget(parent), options_(options), reporter_(*this) {
    options_.keepListRows = true;
    showMessage = [this](QMessageBox::Icon icon, const QString& text) {
        QMessageBox box(icon, windowTitle(), text, QMessageBox::Ok, this);
        box.exec();
    };
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kFormColour);
    setPalette(pal);
    setAutoFillBackground(true);
    setAcceptDrops(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(BuildTopArea());
    BuildMenus();
    layout->setMenuBar(menus);
    BuildList();
    split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(list);
    preview = new PreviewPane(options_.text, split);
    split->addWidget(preview);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setChildrenCollapsible(true);
    layout->addWidget(split, 1);
    layout->addWidget(BuildSearchStrip());
    statusLine = new QLabel(this);
    statusLine->setObjectName("statusLine");
    statusLine->setContentsMargins(6, 2, 6, 2);
    statusLine->setTextFormat(Qt::RichText);
    statusLine->setWordWrap(true);
    // Links: a folder opens in the file manager; "details" lists the failures.
    connect(statusLine, &QLabel::linkActivated, this, [this](const QString& link) {
        if (link == QStringLiteral("#failures")) {
            std::string all;
            for (const std::string& line : lastFailures)
                all += line + "\n";
            showMessage(QMessageBox::Warning, Q(all));
        } else {
            QDesktopServices::openUrl(QUrl(link));
        }
    });
    layout->addWidget(statusLine);
    BuildPopup();
    BuildShortcuts();
    Retitle();
    resize(kClientWidth, kClientHeight);
    split->setSizes({kClientWidth * 5 / 8, kClientWidth * 3 / 8});
}

MainWindow::~MainWindow() {
    // The worker reads the archive: it stops before the archive goes.
    preview->Halt();
}

QString MainWindow::T(const char* english, const char* russian) const {
    return QString::fromUtf8(options_.text.russian ? russian : english);
}

void MainWindow::Retitle() {
    // The version the build states, as `kestrel --version` prints it.
    setWindowTitle(QStringLiteral("Kestrel ") + QString::fromLatin1(kKestrelVersion) +
                   T(", author: the Kestrel developers", ", автор: разработчики Kestrel"));
}

void MainWindow::BuildMenus() {
    const InterfaceTexts& t = options_.text;
    menus = new QMenuBar(this);
    QMenu* file = menus->addMenu(T("&File", "&Файл"));
    // The keys are the window's shortcuts (see BuildShortcuts); the menu only names them.
    file->addAction(Q(t.BtnOpen) + QStringLiteral("…\tCtrl+O"), this, [this] { openButton->click(); });
    openFolderAction = file->addAction(Q(t.BtnOpenFolder) + QStringLiteral("…\tCtrl+Shift+O"));
    openFolderAction->setToolTip(T("Every archive below a folder, for Export all and Import all",
                                   "Все архивы в папке, для «Извлечь все» и «Запаковать все»"));
    connect(openFolderAction, &QAction::triggered, this, [this] {
        QSettings settings(QStringLiteral("Kestrel"), QStringLiteral("kestrel-window"));
        QString start = lastFolder_;
        if (start.isEmpty()) start = settings.value(QStringLiteral("openFolder")).toString();
        if (start.isEmpty() || !QFileInfo(start).isDir()) start = QStringLiteral(".");
        const QString path =
            QFileDialog::getExistingDirectory(this, Q(options_.text.BtnOpenFolder), start);
        if (path.isEmpty()) return;
        settings.setValue(QStringLiteral("openFolder"), path);
        OpenFolder(path);
    });
    file->addSeparator();
    exportAllAction = file->addAction(Q(t.BtnExportAll), this, [this] { ExportAll(); });
    importAllAction = file->addAction(Q(t.BtnImportAll), this, [this] { ImportAll(); });
    exportAllAction->setEnabled(false);
    importAllAction->setEnabled(false);
    file->addSeparator();
    file->addAction(T("Quit\tCtrl+Q", "Выход\tCtrl+Q"), this, [this] { close(); });
}

void MainWindow::BuildShortcuts() {
    const auto add = [this](const QKeySequence& keys, const std::function<void()>& run) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, run);
    };
    add(QKeySequence::Open, [this] { openButton->click(); });
    add(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), [this] {
        if (openFolderAction->isEnabled()) openFolderAction->trigger();
    });
    add(QKeySequence::Find, [this] {
        findText->setFocus();
        findText->selectAll();
    });
    add(QKeySequence(Qt::Key_F3), [this] { SearchStep(false); });
    add(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { SearchStep(true); });
    add(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); });
}

void MainWindow::SetStatus(const QString& text) {
    statusLine->setText(text.toHtmlEscaped());
    statusLine->setToolTip(text);
}

void MainWindow::ReportExport(const ExportCount& count, const RunOptions& options) {
    lastFailures = reporter_.Alerts();
    QString dir = Q(archive_->OutputBaseDir(options) + ExportTreeOf(shown_.dirName));
    if (dir.size() > 1 && dir.endsWith('/')) dir.chop(1);
    QString text = Q(ExportDoneLine(count, dir.toStdString(), options.text));
    QString html = text.toHtmlEscaped();
    const int at = html.lastIndexOf(dir.toHtmlEscaped());
    if (at >= 0)
        html.replace(at, dir.toHtmlEscaped().size(),
                     QStringLiteral("<a href=\"%1\">%2</a>")
                         .arg(QUrl::fromLocalFile(dir).toString(QUrl::FullyEncoded),
                              dir.toHtmlEscaped()));
    if (count.failed != 0) {
        const QString failed = Q(ExportFailedLine(count, options.text));
        text += QStringLiteral("; ") + failed;
        html += QStringLiteral("; <b>") + failed.toHtmlEscaped() + QStringLiteral("</b>");
        if (!lastFailures.empty())
            html += QStringLiteral(" (<a href=\"#failures\">%1</a>)").arg(T("details", "подробности"));
    }
    statusLine->setText(html);
    statusLine->setToolTip(text);
}

QWidget* MainWindow::BuildTopArea() {
    const InterfaceTexts& t = options_.text;
    auto* top = new QWidget(this);
    auto* row = new QHBoxLayout(top);
    row->setContentsMargins(4, 5, 8, 4);
    row->setSpacing(12);

    auto* left = new QVBoxLayout;
    left->setSpacing(3);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(4, 0, 0, 0);
    buttons->setSpacing(7);
    openButton = new QPushButton(Q(t.BtnOpen), top);
    exportAllButton = new QPushButton(Q(t.BtnExportAll), top);
    importAllButton = new QPushButton(Q(t.BtnImportAll), top);
    for (auto* b : {openButton, exportAllButton, importAllButton}) {
        b->setMinimumSize(129, 25);
        buttons->addWidget(b);
    }
    exportAllButton->setEnabled(false);
    importAllButton->setEnabled(false);
    left->addLayout(buttons);
    progress = new ProgressFrame(top);
    left->addWidget(progress);
    row->addLayout(left);

    auto* right = new QVBoxLayout;
    right->setSpacing(6);
    auto* archiveRow = new QHBoxLayout;
    archiveLabel = new QLabel(Q(t.LblArchive), top);
    innerFiles = new QComboBox(top);
    innerFiles->setMinimumWidth(120);
    innerFiles->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    archiveRow->addWidget(archiveLabel);
    archiveRow->addWidget(innerFiles, 1);
    right->addLayout(archiveRow);
    auto* infoRow = new QHBoxLayout;
    infoRow->setSpacing(16);
    sizeLabel = new QLabel(Q(t.LblSize), top);
    versionLabel = new QLabel(Q(t.LblVersion), top);
    filesLabel = new QLabel(Q(t.LblFiles), top);
    infoRow->addWidget(sizeLabel);
    infoRow->addWidget(versionLabel);
    infoRow->addWidget(filesLabel);
    infoRow->addStretch(1);
    right->addLayout(infoRow);
    row->addLayout(right, 1);

    connect(openButton, &QPushButton::clicked, this, [this] {
        const QString filters = T("Unity archives ", "Архивы Unity ") + QString::fromLatin1(kOpenPatterns) +
                                QStringLiteral(";;") + T("All files (*)", "Все файлы (*)");
        // The folder of the archive opened last, also from an earlier run.
        QSettings settings(QStringLiteral("Kestrel"), QStringLiteral("kestrel-window"));
        QString start = lastFolder_;
        if (start.isEmpty()) start = settings.value(QStringLiteral("openFolder")).toString();
        if (start.isEmpty() || !QFileInfo(start).isDir()) start = QStringLiteral(".");
        const QString path = QFileDialog::getOpenFileName(this, QString(), start, filters);
        if (path.isEmpty()) return;
        settings.setValue(QStringLiteral("openFolder"), QFileInfo(path).absolutePath());
        OpenFile(path);
    });
    connect(exportAllButton, &QPushButton::clicked, this, [this] { ExportAll(); });
    connect(importAllButton, &QPushButton::clicked, this, [this] { ImportAll(); });
    connect(innerFiles, &QComboBox::activated, this, [this](int index) {
        if (folder_) {
            ChooseListed(index);
        } else {
            SelectInnerFile(index);
        }
    });
    return top;
}

void MainWindow::BuildList() {
    list = new QTableView(this);
    model = new ItemModel(shown_.Items().listRows, options_.text, list);
    list->setModel(model);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setShowGrid(true);
    list->setWordWrap(false);
    list->setAlternatingRowColors(false);
    list->verticalHeader()->hide();
    // Every row has the same height, so the view never measures rows it does not show.
    list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    QHeaderView* header = list->horizontalHeader();
    header->setHighlightSections(false);
    header->setSectionsClickable(true);
    header->setMinimumSectionSize(30);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    const int widths[] = {48, 0, 200, 80, 100};
    for (int c : {0, 2, 3, 4})
        header->resizeSection(c, widths[c]);
    header->setSortIndicatorShown(false);
    connect(header, &QHeaderView::sectionClicked, this, [this](int c) { SortByColumn(c); });
    // Enter (or a double click) on a row opens its preview; moving the cursor follows it.
    connect(list, &QAbstractItemView::activated, this, [this] { PreviewCurrentRow(); });
    connect(list->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (!busy_ && PreviewOpen()) PreviewCurrentRow();
    });
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ShowPopup(pos); });
}

void MainWindow::BuildPopup() {
    const InterfaceTexts& t = options_.text;
    popup = new QMenu(this);
    popup->addAction(Q(t.MenuExportSelected), this, [this] { ExportSelected(kOutRawOnly); });
    popup->addAction(Q(t.MenuExportSource), this, [this] { ExportSelected(kOutSourceFiles); });
    popup->addAction(Q(t.MenuExportJson), this,
                     [this] { ExportSelected(kOutRawOnly | kOutJson); });
    popup->addAction(Q(t.MenuExportPng), this, [this] { ExportSelectedPictures(); });
    popup->addAction(Q(t.MenuSelectAll), this, [this] { list->selectAll(); });
}

QWidget* MainWindow::BuildSearchStrip() {
    const InterfaceTexts& t = options_.text;
    auto* strip = new QWidget(this);
    strip->setFixedHeight(45);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(8, 2, 8, 2);
    row->setSpacing(7);
    auto* modes = new QVBoxLayout;
    modes->setSpacing(0);
    modeName = new QRadioButton(Q(t.ModeSearchName), strip);
    modeText = new QRadioButton(Q(t.ModeSearchText), strip);
    modeName->setChecked(true);
    modes->addWidget(modeName);
    modes->addWidget(modeText);
    row->addLayout(modes);
    findText = new QLineEdit(strip);
    findText->setMinimumWidth(140);
    // Long texts are accepted, so that one longer than a content chunk is refused with a message
    // rather than cut short without a word.
    findText->setMaxLength(static_cast<int>(2 * kSearchChunk));
    row->addWidget(findText, 1);
    findNext = new QPushButton(Q(t.FindNext), strip);
    findPrev = new QPushButton(Q(t.FindPrev), strip);
    itemsSelect = new QPushButton(Q(t.ItemsSelect), strip);
    for (auto* b : {findNext, findPrev, itemsSelect}) {
        // Never narrower than its caption, in either language.
        b->setMinimumSize(std::max(110, b->sizeHint().width()), 25);
        row->addWidget(b);
    }
    auto* checks = new QVBoxLayout;
    checks->setSpacing(0);
    matchCase = new QCheckBox(Q(t.MatchCase), strip);
    loopSearch = new QCheckBox(Q(t.LoopSearch), strip);
    // Disabled (in the content search, which always matches case) it stays readable.
    QPalette readable = matchCase->palette();
    readable.setColor(QPalette::Disabled, QPalette::WindowText, QColor(70, 70, 70));
    readable.setColor(QPalette::Disabled, QPalette::Text, QColor(70, 70, 70));
    matchCase->setPalette(readable);
    matchCase->setToolTip(T("The content search always matches case.",
                            "Поиск по содержимому всегда учитывает регистр."));
    checks->addWidget(matchCase);
    checks->addWidget(loopSearch);
    row->addLayout(checks);

    // The content search always compares bytes exactly; the name search starts case-blind.
    connect(modeName, &QRadioButton::clicked, this, [this] {
        matchCase->setChecked(false);
        matchCase->setEnabled(true);
    });
    connect(modeText, &QRadioButton::clicked, this, [this] {
        matchCase->setChecked(true);
        matchCase->setEnabled(false);
    });
    connect(findNext, &QPushButton::clicked, this, [this] { SearchStep(false); });
    connect(findPrev, &QPushButton::clicked, this, [this] { SearchStep(true); });
    connect(itemsSelect, &QPushButton::clicked, this, [this] { SelectAllMatches(); });
    connect(findText, &QLineEdit::returnPressed, this, [this] { SearchStep(false); });
    return strip;
}

void MainWindow::SetBusy(bool busy) {
    busy_ = busy;
    const bool haveObjects = shown_.Items().Count() > 0 && model->RowCount() > 0;
    openButton->setEnabled(!busy);
    openFolderAction->setEnabled(!busy);
    if (folder_) {
        // The buttons act on the whole folder, whatever its archive shown holds.
        exportAllButton->setEnabled(!busy && !folder_->archives.empty());
        importAllButton->setEnabled(!busy && !folder_->archives.empty());
    } else {
        exportAllButton->setEnabled(!busy && haveObjects);
        // A single resource (not an assets file) is exported but has nothing to import.
        importAllButton->setEnabled(!busy && haveObjects && shown_.resourceKind.empty());
    }
    exportAllAction->setEnabled(exportAllButton->isEnabled());
    importAllAction->setEnabled(importAllButton->isEnabled());
    innerFiles->setEnabled(!busy);
    // The search reads the list and the working file, which an operation may be rewriting.
    for (QWidget* w : {static_cast<QWidget*>(findNext), static_cast<QWidget*>(findPrev),
                       static_cast<QWidget*>(itemsSelect)})
        w->setEnabled(!busy);
}

bool MainWindow::RunOperation(const std::function<void()>& operation) {
    // The preview reads the archive and the inner file an operation may replace.
    preview->Halt();
    SetBusy(true);
    reporter_.StartOperation();
    bool ok = true;
    try {
        operation();
    } catch (const KestrelError& e) {
        ok = false;
        showMessage(QMessageBox::Critical, Q(e.what()));
    } catch (const std::exception& e) {
        ok = false;
        showMessage(QMessageBox::Critical, Q(e.what()));
    }
    SetBusy(false);
    progress->StartFade();
    if (closeRequested_) {
        close();
        return ok;
    }
    if (PreviewOpen()) PreviewCurrentRow();
    return ok;
}

void MainWindow::ClearShown() {
    preview->Halt();
    list->clearSelection();
    model->SetRowCount(0);
    innerFiles->clear();
    ResetSort();
    SetStatus(QString());
}

void MainWindow::ReportOpenFailure(const QString& name, const std::string& failure) {
    // Said plainly in the interface language; the reader's own words follow for a report.
    showMessage(QMessageBox::Critical,
                T("Kestrel cannot open \"%1\": it is not an archive Kestrel can read, or it "
                  "is damaged.\n\nDetails: %2",
                  "Kestrel не может открыть «%1»: это не архив, который Kestrel умеет читать, "
                  "или файл повреждён.\n\nПодробности: %2")
                    .arg(name, Q(failure)));
    SetStatus(T("\"%1\" was not opened", "«%1» не открыт").arg(name));
}

void MainWindow::OpenFile(const QString& path) {
    if (busy_) return;
    ClearShown();
    folder_.reset();
    folderArchive_.reset();
    lastFolder_ = QFileInfo(path).absolutePath();
    OpenAndShow(path.toStdString(), {}, QFileInfo(path).fileName());
}

void MainWindow::OpenAndShow(const std::string& file, const std::string& treeName,
                             const QString& shownName) {
    std::string failure;
    RunOperation([&] {
        // The archive open before (and its working files) goes first: the same archive opened
        // again must not find its old working copy in the way.
        archive_.reset();
        shown_ = ParsedInnerFile{};
        try {
            auto opened = Archive::Open(file, reporter_, options_.text);
            if (!treeName.empty()) opened->SetTreeName(treeName);
            opened->RequireArchive(options_.text);
            archive_ = std::move(opened);
            // A bundle opens on the objects people look for, not on a script assembly.
            ShowInnerFile(archive_->FirstSerializedInnerFile());
        } catch (const std::exception& e) {
            ShowArchive();
            failure = e.what();
        }
    });
    if (!failure.empty()) ReportOpenFailure(shownName, failure);
}

void MainWindow::OpenFolder(const QString& path) {
    if (busy_) return;
    ClearShown();
    folder_.reset();
    folderArchive_.reset();
    std::string failure;
    RunOperation([&] {
        preview->Halt();
        shown_ = ParsedInnerFile{};
        archive_.reset();
        // Named as the command line names it, so that relative paths (and trees) agree.
        std::filesystem::path folder = std::filesystem::absolute(path.toStdString()).lexically_normal();
        if (folder.filename().empty()) folder = folder.parent_path();
        try {
            FolderContents contents = WalkGameFolder(folder);
            folderPath_ = folder;
            folder_ = std::move(contents);
        } catch (const std::exception& e) {
            failure = e.what();
        }
        ShowArchive();
    });
    if (!failure.empty()) {
        showMessage(QMessageBox::Critical, Q(failure));
        SetStatus(T("\"%1\" was not opened", "«%1» не открыта").arg(path));
        return;
    }
    lastFolder_ = QString::fromStdString(folderPath_.string());
    if (folder_->archives.empty()) {
        SetStatus(T("No archive in %1 (%2 other files)", "В %1 нет архивов (других файлов: %2)")
                      .arg(lastFolder_)
                      .arg(folder_->skippedFiles));
        return;
    }
    SelectFolderArchive(0);
}

void MainWindow::SelectFolderArchive(size_t index) {
    if (busy_ || !folder_ || index >= folder_->archives.size()) return;
    const FolderArchive& entry = folder_->archives[index];
    ClearShown();
    folderArchive_ = index;
    // Its tree lies where the folder's export puts it.
    OpenAndShow(entry.file.string(), entry.relativePath, Q(entry.relativePath));
}

void MainWindow::ListFolderArchives() {
    innerFiles->clear();
    int current = -1;
    for (size_t i = 0; i < folder_->archives.size(); ++i) {
        const QString path = Q(folder_->archives[i].relativePath);
        innerFiles->addItem(path);
        innerFiles->setItemData(innerFiles->count() - 1, static_cast<qlonglong>(i), kArchiveRole);
        innerFiles->setItemData(innerFiles->count() - 1, -1, kInnerRole);
        if (folderArchive_ != i) continue;
        current = innerFiles->count() - 1;
        if (!archive_ || !archive_->IsBundle() || archive_->InnerFileNames().size() < 2) continue;
        // The inner files of the bundle shown follow it.
        const auto& names = archive_->InnerFileNames();
        for (size_t k = 0; k < names.size(); ++k) {
            innerFiles->addItem(path + QStringLiteral(" > ") + Q(names[k]));
            innerFiles->setItemData(innerFiles->count() - 1, static_cast<qlonglong>(i), kArchiveRole);
            innerFiles->setItemData(innerFiles->count() - 1, static_cast<int>(k), kInnerRole);
            if (k == shown_.index) current = innerFiles->count() - 1;
        }
    }
    innerFiles->setCurrentIndex(current);
    // Relative paths are long: the open list shows them whole, the closed box on hovering.
    innerFiles->view()->setMinimumWidth(innerFiles->view()->sizeHintForColumn(0) + 24);
    innerFiles->setToolTip(innerFiles->currentText());
}

void MainWindow::ChooseListed(int item) {
    if (busy_ || !folder_ || item < 0 || item >= innerFiles->count()) return;
    const auto archive = static_cast<size_t>(innerFiles->itemData(item, kArchiveRole).toLongLong());
    const int inner = innerFiles->itemData(item, kInnerRole).toInt();
    if (folderArchive_ != archive || !archive_) {
        SelectFolderArchive(archive);
    } else if (inner >= 0) {
        SelectInnerFile(inner);
    } else {
        ListFolderArchives(); // the archive shown again: its inner file stays chosen
    }
}

bool MainWindow::PreviewOpen() const {
    // A pane the splitter collapsed is closed: nothing is decoded for it.
    return preview->isVisible() && split->sizes().value(1) > 0;
}

void MainWindow::ResetSort() {
    sortColumn_ = -1;
    sortDescending_ = false;
    list->horizontalHeader()->setSortIndicatorShown(false);
}

void MainWindow::PreviewCurrentRow() {
    if (busy_) return;
    if (!PreviewOpen()) {
        preview->show();
        const int total = split->width();
        split->setSizes({total * 5 / 8, total * 3 / 8});
    }
    std::optional<size_t> object;
    const QModelIndex current = list->selectionModel()->currentIndex();
    const auto& rows = shown_.Items().listRows;
    if (archive_ && current.isValid() && static_cast<size_t>(current.row()) < model->RowCount() &&
        static_cast<size_t>(current.row()) < rows.size() && rows[current.row()].number > 0)
        object = rows[current.row()].number - 1;
    preview->Show(archive_.get(), &shown_, options_, object);
}

void MainWindow::ShowInnerFile(size_t index, const std::vector<uint32_t>& order) {
    shown_ = archive_->Parse(index, options_, &reporter_);
    ItemTable& items = shown_.Items();
    if (!order.empty() && order.size() == items.listRows.size()) {
        // The rows may be shown sorted: each keeps its place.
        for (size_t k = 0; k < order.size(); ++k) {
            if (order[k] > 0 && order[k] <= items.Count())
                FillListRow(shown_.assets, k, order[k] - 1);
        }
    }
    ShowArchive();
}

void MainWindow::SelectInnerFile(int index) {
    if (busy_ || index < 0 || !archive_) return;
    list->clearSelection();
    model->SetRowCount(0);
    RunOperation([&] {
        try {
            ShowInnerFile(static_cast<size_t>(index));
        } catch (...) {
            ShowArchive();
            throw;
        }
    });
}

RunOptions MainWindow::ActionOptions(uint16_t outputs) const {
    RunOptions options = options_;
    options.outputs = outputs;
    // An archive of a game folder has its tree in the folder's, as a folder run puts it.
    if (folder_ && options.outputDir.empty()) options.outputDir = folderPath_.string() + "/";
    return options;
}

void MainWindow::ShowArchive() {
    const InterfaceTexts& t = options_.text;
    const AssetsFile& a = shown_.assets;
    const size_t count = std::min(shown_.Items().Count(), shown_.Items().listRows.size());
    model->SetRowCount(count);
    if (count > 0) list->scrollToTop();
    if (folder_) {
        ListFolderArchives();
    } else {
        innerFiles->clear();
        if (archive_ && archive_->IsBundle()) {
            for (const auto& name : archive_->InnerFileNames())
                innerFiles->addItem(Q(name));
        } else if (archive_) {
            innerFiles->addItem(
                Q(std::filesystem::path(archive_->WorkFileName()).filename().string()));
        }
        innerFiles->setCurrentIndex(static_cast<int>(shown_.index));
        innerFiles->view()->setMinimumWidth(0);
        innerFiles->setToolTip(QString());
    }
    archiveLabel->setText(Q(t.LblArchive));
    if (!shown_.resourceKind.empty() && count == 1) {
        sizeLabel->setText(Q(t.LblSize) + QString::number(shown_.Items().rows[0].ObjSize));
        versionLabel->setText(Q(t.LblVersion) + Q(shown_.resourceKind));
        filesLabel->setText(Q(t.LblFiles) + QStringLiteral("1"));
        return;
    }
    std::string version = a.header.engineVersion;
    // Control characters would break the label's line.
    for (char& c : version)
        if (c >= 1 && c <= 31) c = '|';
    sizeLabel->setText(Q(t.LblSize) + QString::number(a.headerFileSize));
    versionLabel->setText(Q(t.LblVersion) + Q(version) + Q(t.LblId) +
                          QString::number(a.header.formatVersion) + QStringLiteral(" ") +
                          Q(PlatformName(a.header.targetPlatform)));
    filesLabel->setText(Q(t.LblFiles) + QString::number(count));
    // The type column as wide as its widest shown text (texture formats are long); the number,
    // size and offset columns no wider than theirs, so the name keeps the rest.
    for (ListColumn c : {ListColumn::Number, ListColumn::Type, ListColumn::Size, ListColumn::Offset})
        list->resizeColumnToContents(static_cast<int>(c));
}

void MainWindow::ExportAll() {
    if (folder_) {
        RunFolderTask(Task::kExport);
        return;
    }
    if (busy_ || model->RowCount() == 0 || !archive_) return;
    std::vector<size_t> all(shown_.Items().Count());
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    const RunOptions options = ActionOptions(kOutEverything);
    RunExport(all, options);
}

void MainWindow::ExportSelected(uint16_t outputs) {
    ExportSelectedAs(outputs, false);
}

void MainWindow::ExportSelectedPictures() {
    ExportSelectedAs(kOutConvert | kOutPng, true);
}

void MainWindow::ExportSelectedAs(uint16_t outputs, bool texturesOnly) {
    if (busy_ || model->RowCount() == 0 || !archive_) return;
    std::vector<size_t> chosen = SelectedObjects();
    if (texturesOnly) {
        // Other objects would go out as their raw files: the pictures are all that is asked for.
        std::erase_if(chosen, [&](size_t i) {
            const int32_t classId = shown_.Items().rows[i].ClassID;
            return classId != ClassId::kTexture2D && classId != ClassId::kCubemap;
        });
    }
    if (chosen.empty()) return;
    const RunOptions options = ActionOptions(outputs);
    RunExport(chosen, options);
}

void MainWindow::RunExport(const std::vector<size_t>& objects, const RunOptions& options) {
    SetStatus(QString());
    reporter_.CollectAlerts(true);
    std::optional<ExportCount> count;
    RunOperation([&] { count = ExportChosenObjects(*archive_, shown_, objects, options, reporter_); });
    if (count) ReportExport(*count, options);
    reporter_.CollectAlerts(false);
}

std::vector<size_t> MainWindow::SelectedObjects() const {
    QModelIndexList rows = list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<size_t> out;
    const auto& listRows = shown_.Items().listRows;
    for (const QModelIndex& r : rows) {
        const auto k = static_cast<size_t>(r.row());
        if (k < listRows.size() && listRows[k].number > 0) out.push_back(listRows[k].number - 1);
    }
    return out;
}

void MainWindow::RunFolderTask(Task task) {
    if (busy_ || !folder_) return;
    const bool importing = task == Task::kImport;
    // What a folder run of the command line does without -t; its rows are not kept.
    RunOptions options = ActionOptions(importing ? 0 : kOutEverything);
    options.task = task;
    options.keepListRows = false;
    const std::optional<size_t> shownArchive = folderArchive_;
    const size_t shownInner = shown_.index;
    // The object under the cursor, found again after the import (the rows then in table order).
    const int row = list->currentIndex().row();
    const auto& rows = shown_.Items().listRows;
    const uint32_t cursorObject =
        row >= 0 && static_cast<size_t>(row) < rows.size() ? rows[row].number : 0;
    SetStatus(QString());
    reporter_.CollectAlerts(true);
    std::optional<FolderSummary> summary;
    RunOperation([&] {
        if (importing) {
            // The archive shown is rewritten by the import: its working copy goes first, and it
            // opens again afterwards.
            list->clearSelection();
            model->SetRowCount(0);
            shown_ = ParsedInnerFile{};
            archive_.reset();
        }
        // One worker, on this thread: the window takes its messages from no other.
        summary = RunOnFolder(folderPath_, options, 1, reporter_);
    });
    lastFailures = reporter_.Alerts();
    reporter_.CollectAlerts(false);
    if (importing && shownArchive) {
        SelectFolderArchive(*shownArchive);
        if (archive_ && shown_.index != shownInner) SelectInnerFile(static_cast<int>(shownInner));
        if (cursorObject > 0 && cursorObject <= model->RowCount())
            list->setCurrentIndex(model->index(static_cast<int>(cursorObject - 1), 0));
    }
    if (!summary) return;
    const QString text = Q(FolderSummaryLine(*summary, task, options.text));
    QString html = text.toHtmlEscaped();
    if (!importing) {
        const QString dir = Q(options.outputDir + "Unity_Assets_Files");
        html += QStringLiteral(": <a href=\"%1\">%2</a>")
                    .arg(QUrl::fromLocalFile(dir).toString(QUrl::FullyEncoded), dir.toHtmlEscaped());
    }
    if (!lastFailures.empty())
        html += QStringLiteral(" (<a href=\"#failures\">%1</a>)").arg(T("details", "подробности"));
    statusLine->setText(html);
    statusLine->setToolTip(text);
}

void MainWindow::ImportAll() {
    if (folder_) {
        RunFolderTask(Task::kImport);
        return;
    }
    if (busy_ || model->RowCount() == 0 || !archive_) return;
    RunOperation([&] {
        // The rows show what the archive holds, also when the import stopped part way.
        std::vector<uint32_t> order;
        for (const auto& row : shown_.Items().listRows)
            order.push_back(row.number);
        const RunOptions options = ActionOptions(0);
        SetStatus(QString());
        try {
            const ImportSummary summary =
                ImportInnerFileAndResources(*archive_, shown_.index, options, reporter_);
            SetStatus(Q(ImportSummaryLine(summary, options.text)));
        } catch (...) {
            ShowInnerFile(shown_.index, order);
            throw;
        }
        ShowInnerFile(shown_.index, order);
    });
}

void MainWindow::SortByColumn(int column) {
    if (busy_ || model->RowCount() == 0 || !exportAllButton->isEnabled()) return;
    if (column < 0 || column > 4) return;
    if (column == sortColumn_) {
        // The same column again: the other order.
        std::reverse(shown_.Items().listRows.begin(), shown_.Items().listRows.end());
        sortDescending_ = !sortDescending_;
    } else {
        SortListRows(shown_.assets, static_cast<ListColumn>(column));
        sortColumn_ = column;
        sortDescending_ = false;
    }
    QHeaderView* header = list->horizontalHeader();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, sortDescending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
    model->RowsRewritten();
}

void MainWindow::ShowPopup(const QPoint& pos) {
    if (model->RowCount() == 0 || !exportAllButton->isEnabled()) return;
    popup->popup(list->viewport()->mapToGlobal(pos));
}

bool MainWindow::CheckSearchText(const std::string& text) {
    if (!modeText->isChecked() || text.size() <= kSearchChunk) return true;
    const bool russian = options_.text.ColName == MakeLocalization(true).ColName;
    const QString refusal =
        russian ? QStringLiteral("Текст поиска длиннее %1 байт: по данным объектов такой текст не "
                                 "ищется.")
                : QStringLiteral("The search text is longer than %1 bytes and cannot be searched "
                                 "for in object data.");
    showMessage(QMessageBox::Warning, refusal.arg(kSearchChunk));
    return false;
}

void MainWindow::SearchStep(bool backward) {
    const auto count = static_cast<long long>(model->RowCount());
    if (count == 0 || busy_) return;
    SearchQuery query{findText->text().toStdString(), matchCase->isChecked(),
                      loopSearch->isChecked(), modeText->isChecked()};
    if (!CheckSearchText(query.text)) return;
    QItemSelectionModel* selection = list->selectionModel();
    long long start = 0;
    if (!selection->currentIndex().isValid()) {
        // No cursor yet: the search starts at the first (or last) row itself.
        start = backward ? count - 1 : 0;
        selection->setCurrentIndex(model->index(static_cast<int>(start), 0),
                                   QItemSelectionModel::NoUpdate);
        list->scrollTo(model->index(static_cast<int>(start), 0));
    } else {
        start = selection->currentIndex().row() + (backward ? -1 : 1);
    }
    selection->clearSelection();
    // Content search reads the working file's bytes as the archive reads them.
    const std::shared_ptr<const ByteSource> work =
        query.contentMode && archive_ ? archive_->Work() : nullptr;
    const auto found =
        FindRow(shown_.Items().listRows, model->RowCount(), work.get(), start, backward, query);
    if (!found) {
        SetStatus(T("No match for \"%1\"", "Совпадений с «%1» нет").arg(findText->text()));
    } else if (backward ? static_cast<long long>(*found) > start
                        : static_cast<long long>(*found) < start) {
        SetStatus(backward ? T("Search wrapped past the first row", "Поиск продолжен с конца списка")
                           : T("Search wrapped past the last row", "Поиск продолжен с начала списка"));
    } else {
        SetStatus(QString());
    }
    const QModelIndex target =
        found ? model->index(static_cast<int>(*found), 0) : selection->currentIndex();
    selection->setCurrentIndex(target,
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list->scrollTo(target);
    list->setFocus();
}

void MainWindow::SelectAllMatches() {
    const size_t count = model->RowCount();
    if (count == 0 || busy_) return;
    SearchQuery query{findText->text().toStdString(), matchCase->isChecked(), false,
                      modeText->isChecked()};
    if (!CheckSearchText(query.text)) return;
    QItemSelectionModel* selection = list->selectionModel();
    selection->setCurrentIndex(model->index(0, 0), QItemSelectionModel::NoUpdate);
    list->scrollTo(model->index(0, 0));
    selection->clearSelection();
    // Content search reads the working file's bytes as the archive reads them.
    const std::shared_ptr<const ByteSource> work =
        query.contentMode && archive_ ? archive_->Work() : nullptr;
    // Matches are gathered first as runs of adjacent rows (they come in ascending order) and
    // selected in one step, so that many matches stay fast.
    QItemSelection matches;
    std::optional<size_t> last;
    std::optional<size_t> runStart;
    const auto closeRun = [&] {
        if (runStart)
            matches.append(QItemSelectionRange(model->index(static_cast<int>(*runStart), 0),
                                               model->index(static_cast<int>(*last), 0)));
    };
    for (long long index = 0;;) {
        const auto found = FindRow(shown_.Items().listRows, count, work.get(), index, false, query);
        if (!found) break;
        if (!last || *found != *last + 1) {
            closeRun();
            runStart = found;
        }
        last = found;
        index = static_cast<long long>(*found) + 1;
    }
    closeRun();
    selection->select(matches, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (!last)
        SetStatus(T("No match for \"%1\"", "Совпадений с «%1» нет").arg(findText->text()));
    else
        SetStatus(T("%1 rows selected", "Выбрано строк: %1").arg(selection->selectedRows().size()));
    if (last) {
        const QModelIndex cell = model->index(static_cast<int>(*last), 0);
        selection->setCurrentIndex(cell, QItemSelectionModel::NoUpdate);
        list->scrollTo(cell);
    }
    list->setFocus();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (busy_) {
        // The running operation still uses the working files; the window closes after it.
        closeRequested_ = true;
        event->ignore();
        return;
    }
    preview->Halt();
    shown_ = ParsedInnerFile{};
    archive_.reset(); // removes the working files
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* mime = event->mimeData();
    if (!busy_ && mime->hasUrls() && mime->urls().size() == 1 && mime->urls()[0].isLocalFile())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (busy_ || urls.size() != 1 || !urls[0].isLocalFile()) return;
    event->acceptProposedAction();
    const QString path = urls[0].toLocalFile();
    // Opened after the drop has finished, so the drag source is not kept waiting.
    QTimer::singleShot(0, this, [this, path] {
        if (QFileInfo(path).isDir()) {
            OpenFolder(path);
        } else {
            OpenFile(path);
        }
    });
}

} // namespace kestrel::ui
