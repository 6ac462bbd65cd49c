#include "ui/PreviewPane.h"

#include "assets/Vocabulary.h"
#include "common/Error.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace kestrel::ui {

namespace {

// Text assets show this many bytes at most; the hex view reads a page of this many.
constexpr uint64_t kTextLimit = 1 << 20;
constexpr size_t kHexPage = 4096;
// Children a field tree item adds at a time; an item "… N more" adds the next ones.
constexpr size_t kFieldBatch = 500;
constexpr double kZooms[] = {0, 0.5, 1, 2, 4};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString HexLines(const std::vector<uint8_t>& data, uint64_t offset) {
    QString out;
    for (size_t line = 0; line < data.size(); line += 16) {
        QString hex, chars;
        for (size_t k = 0; k < 16; ++k) {
            if (line + k < data.size()) {
                const uint8_t b = data[line + k];
                hex += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0'));
                chars += (b >= 32 && b < 127) ? QChar(b) : QChar('.');
            } else {
                hex += QStringLiteral("   ");
            }
            if (k == 7) hex += ' ';
        }
        out += QStringLiteral("%1  %2 %3\n").arg(offset + line, 8, 16, QLatin1Char('0')).arg(hex, chars);
    }
    return out;
}

QImage ImageOf(const image::ImagePlane& plane) {
    QImage view(plane.rgba8.data(), static_cast<int>(plane.width), static_cast<int>(plane.height),
                static_cast<qsizetype>(plane.width) * 4, QImage::Format_RGBA8888);
    return view.copy();
}

} // namespace

// ---- PictureView ----

PictureView::PictureView(QWidget* parent) : QWidget(parent) {}

void PictureView::SetPicture(const QImage& picture, QSize fullSize) {
    picture_ = picture;
    fullSize_ = fullSize;
    updateGeometry();
    if (zoom_ > 0) resize(sizeHint());
    update();
}

void PictureView::SetZoom(double zoom) {
    zoom_ = zoom;
    updateGeometry();
    if (zoom_ > 0) resize(sizeHint());
    update();
}

QSize PictureView::sizeHint() const {
    if (zoom_ <= 0 || fullSize_.isEmpty()) return {64, 64};
    return (QSizeF(fullSize_) * zoom_).toSize().expandedTo({1, 1});
}

void PictureView::paintEvent(QPaintEvent*) {
    if (picture_.isNull() || fullSize_.isEmpty()) return;
    QPainter painter(this);
    QSizeF shown = QSizeF(fullSize_) * zoom_;
    if (zoom_ <= 0) {
        // Fitted: a large picture shrinks to the view, a small one grows up to eight times.
        shown = QSizeF(fullSize_);
        shown.scale(size(), Qt::KeepAspectRatio);
        if (shown.width() > fullSize_.width() * 8.0) shown = QSizeF(fullSize_) * 8.0;
    }
    const QRectF target(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2),
                        shown);
    // The checkerboard under the picture: transparent parts show it.
    constexpr int cell = 8;
    painter.save();
    painter.setClipRect(target);
    for (int y = static_cast<int>(target.top()); y < target.bottom(); y += cell)
        for (int x = static_cast<int>(target.left()); x < target.right(); x += cell) {
            const bool dark = ((x - static_cast<int>(target.left())) / cell +
                               (y - static_cast<int>(target.top())) / cell) % 2;
            painter.fillRect(x, y, cell, cell, dark ? QColor(204, 204, 204) : Qt::white);
        }
    painter.restore();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, shown.width() < picture_.width());
    painter.drawImage(target, picture_);
}

// ---- PreviewPane ----

QString PreviewPane::T(const char* english, const char* russian) const {
    return QString::fromUtf8(texts_.russian ? russian : english);
}

PreviewPane::PreviewPane(const InterfaceTexts& texts, QWidget* parent)
    : QWidget(parent), texts_(texts) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    heading = new QLabel(this);
    heading->setTextInteractionFlags(Qt::TextSelectableByMouse);
    heading->setWordWrap(true);
    facts = new QLabel(this);
    facts->setWordWrap(true);
    facts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(heading);
    layout->addWidget(facts);

    auto* choices = new QHBoxLayout;
    levelChoice = new QComboBox(this);
    faceChoice = new QComboBox(this);
    zoomChoice = new QComboBox(this);
    zoomChoice->addItem(T("Fit", "По размеру"));
    for (const char* z : {"50%", "100%", "200%", "400%"})
        zoomChoice->addItem(QString::fromLatin1(z));
    levelChoice->setToolTip(T("Mip level", "Уровень mip"));
    faceChoice->setToolTip(T("Cubemap face or image", "Грань кубической карты или изображение"));
    zoomChoice->setToolTip(T("Zoom", "Масштаб"));
    choices->addWidget(levelChoice);
    choices->addWidget(faceChoice);
    choices->addWidget(zoomChoice);
    choices->addStretch(1);
    layout->addLayout(choices);

    pages = new QStackedWidget(this);
    message = new QLabel(pages);
    message->setAlignment(Qt::AlignCenter);
    message->setWordWrap(true);
    pages->addWidget(message);
    pictureArea = new QScrollArea(pages);
    picture = new PictureView(pictureArea);
    pictureArea->setWidget(picture);
    pictureArea->setWidgetResizable(true);
    pictureArea->setAlignment(Qt::AlignCenter);
    pages->addWidget(pictureArea);
    text = new QPlainTextEdit(pages);
    text->setReadOnly(true);
    pages->addWidget(text);
    fields = new QTreeWidget(pages);
    fields->setColumnCount(3);
    fields->setHeaderLabels({T("Field", "Поле"), T("Type", "Тип"), T("Value", "Значение")});
    fields->header()->setSectionResizeMode(QHeaderView::Interactive);
    pages->addWidget(fields);
    auto* hexPage = new QWidget(pages);
    auto* hexLayout = new QVBoxLayout(hexPage);
    hexLayout->setContentsMargins(0, 0, 0, 0);
    bytes = new QPlainTextEdit(hexPage);
    bytes->setReadOnly(true);
    bytes->setLineWrapMode(QPlainTextEdit::NoWrap);
    bytes->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* pageRow = new QHBoxLayout;
    pageBack = new QPushButton(T("Previous page", "Предыдущая страница"), hexPage);
    pageOn = new QPushButton(T("Next page", "Следующая страница"), hexPage);
    pageRow->addWidget(pageBack);
    pageRow->addWidget(pageOn);
    pageRow->addStretch(1);
    hexLayout->addWidget(bytes, 1);
    hexLayout->addLayout(pageRow);
    pages->addWidget(hexPage);
    bytesPage_ = hexPage;
    layout->addWidget(pages, 1);
    for (QWidget* w : {static_cast<QWidget*>(levelChoice), static_cast<QWidget*>(faceChoice),
                       static_cast<QWidget*>(zoomChoice)})
        w->hide();
    setMinimumWidth(220);

    connect(levelChoice, &QComboBox::activated, this, [this] { RequestPicture(); });
    connect(faceChoice, &QComboBox::activated, this, [this] { RequestPicture(); });
    connect(zoomChoice, &QComboBox::activated, this, [this](int k) {
        const double zoom = kZooms[std::clamp(k, 0, 4)];
        pictureArea->setWidgetResizable(zoom <= 0);
        picture->SetZoom(zoom);
        RequestPicture();
    });
    connect(pageBack, &QPushButton::clicked, this, [this] {
        RequestPage(pageOffset_ >= kHexPage ? pageOffset_ - kHexPage : 0);
    });
    connect(pageOn, &QPushButton::clicked, this, [this] { RequestPage(pageOffset_ + kHexPage); });
    connect(fields, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        // Children are made when an item opens; a "more" item makes the next batch.
        if (item->childCount() != 1 || !item->child(0)->data(0, Qt::UserRole + 3).isValid()) return;
        delete item->takeChild(0);
        const auto* value = reinterpret_cast<const FieldValue*>(
            item->data(0, Qt::UserRole + 1).value<quintptr>());
        if (value) AddFieldItems(item, *value, 0);
    });
    connect(fields, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        const QVariant more = item->data(0, Qt::UserRole + 2);
        if (!more.isValid()) return;
        QTreeWidgetItem* parent = item->parent();
        const auto* value = reinterpret_cast<const FieldValue*>(
            item->data(0, Qt::UserRole + 1).value<quintptr>());
        delete item;
        if (parent && value) AddFieldItems(parent, *value, more.value<qulonglong>());
    });
    resizeTimer_.setSingleShot(true);
    resizeTimer_.setInterval(150);
    connect(&resizeTimer_, &QTimer::timeout, this, [this] {
        // A larger pane may want a larger level.
        if (shownKind_ == PreviewKind::Picture && levelChoice->currentIndex() == 0 && index_ &&
            LevelForBox(textureFacts_, static_cast<uint32_t>(pictureArea->viewport()->width()),
                        static_cast<uint32_t>(pictureArea->viewport()->height())) != autoLevel_)
            RequestPicture();
    });
    worker_ = std::thread([this] { WorkerLoop(); });
}

PreviewPane::~PreviewPane() {
    Halt();
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void PreviewPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    resizeTimer_.start();
}

void PreviewPane::WorkerLoop() {
    for (;;) {
        Job job;
        uint64_t serial = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || job_.has_value(); });
            if (quit_) return;
            job = std::move(*job_);
            job_.reset();
            serial = latest_.load();
            working_ = true;
        }
        const auto stop = [this, serial] { return latest_.load() != serial; };
        try {
            job(serial, stop);
        } catch (const std::exception& e) {
            const QString why = QString::fromUtf8(e.what());
            Deliver(serial, [this, why] { ShowMessage(why); });
        }
        {
            std::lock_guard lock(mutex_);
            working_ = false;
        }
        wake_.notify_all();
    }
}

void PreviewPane::Request(Job job) {
    ++requested_;
    {
        std::lock_guard lock(mutex_);
        latest_ = requested_;
        job_ = std::move(job);
    }
    wake_.notify_all();
}

// A decoded level on the picture page, under the line of its texture's facts.
void PreviewPane::ShowPicture(const TexturePictureFacts& f, uint32_t level, const QImage& shown) {
    facts->setText(T("%1 x %2, %3, mip levels: %4; shown: level %5 (%6 x %7)",
                     "%1 x %2, %3, уровней mip: %4; показан уровень %5 (%6 x %7)")
                       .arg(f.width)
                       .arg(f.height)
                       .arg(Q(TextureFormatName(f.format, modernNames_)))
                       .arg(f.levels)
                       .arg(level)
                       .arg(shown.width())
                       .arg(shown.height()));
    picture->SetPicture(shown, QSize(static_cast<int>(f.width), static_cast<int>(f.height)));
    pages->setCurrentWidget(pictureArea);
}

void PreviewPane::Deliver(uint64_t serial, std::function<void()> apply) {
    QMetaObject::invokeMethod(
        this,
        [this, serial, apply = std::move(apply)] {
            if (serial != requested_) return;
            applied_ = serial;
            apply();
        },
        Qt::QueuedConnection);
}

void PreviewPane::Halt() {
    std::unique_lock lock(mutex_);
    ++requested_;
    applied_ = requested_;
    latest_ = requested_;
    job_.reset();
    wake_.wait(lock, [this] { return !working_; });
    lock.unlock();
    preview_.reset();
    archive_ = nullptr;
    inner_ = nullptr;
}

void PreviewPane::ShowMessage(const QString& why) {
    message->setText(why);
    pages->setCurrentWidget(message);
    for (QWidget* w : {static_cast<QWidget*>(levelChoice), static_cast<QWidget*>(faceChoice),
                       static_cast<QWidget*>(zoomChoice)})
        w->hide();
}

void PreviewPane::Show(const Archive* archive, const ParsedInnerFile* inner,
                       const RunOptions& options, std::optional<size_t> index) {
    if (archive != archive_ || inner != inner_ || !preview_) {
        Halt();
        archive_ = archive;
        inner_ = inner;
        // Serialized format 16 on names formats 22 to 27 and 62 on otherwise.
        modernNames_ = inner && inner->assets.header.formatVersion >= 16;
        if (archive && inner) preview_ = std::make_unique<ObjectPreview>(*archive, *inner, options);
    }
    index_ = index;
    shownKind_.reset();
    fields->clear();
    fieldValues_.reset();
    packedElements_.clear();
    if (!preview_ || !index || *index >= inner->Items().Count()) {
        ++requested_;
        applied_ = requested_;
        latest_ = requested_;
        heading->clear();
        facts->clear();
        ShowMessage(T("Select a row to see what it holds.",
                      "Выберите строку, чтобы увидеть её содержимое."));
        return;
    }
    const size_t i = *index;
    heading->setText(QStringLiteral("<b>%1</b>").arg(Q(inner->Items().ExportName.at(i)).toHtmlEscaped()));
    facts->clear();
    ObjectPreview* preview = preview_.get();
    const QSize box = pictureArea->viewport()->size();
    const double zoom = kZooms[std::clamp(zoomChoice->currentIndex(), 0, 4)];
    Request([this, preview, i, box, zoom](uint64_t serial, const std::function<bool()>& stop) {
        const PreviewKind kind = preview->KindOf(i);
        switch (kind) {
        case PreviewKind::Picture: {
            const TexturePictureFacts f = preview->TextureFacts(i);
            if (!f.decodable) {
                Deliver(serial, [this, f] {
                    shownKind_ = PreviewKind::Picture;
                    facts->setText(QStringLiteral("%1 x %2, %3").arg(f.width).arg(f.height).arg(
                        Q(TextureFormatName(f.format, modernNames_))));
                    ShowMessage(T("No picture decoder knows this texture format.",
                                  "Для этого формата текстуры нет декодера изображения."));
                });
                return;
            }
            const uint32_t level =
                zoom > 0 ? (zoom >= 1 ? 0
                                      : LevelForBox(f, static_cast<uint32_t>(f.width * zoom),
                                                    static_cast<uint32_t>(f.height * zoom)))
                         : LevelForBox(f, static_cast<uint32_t>(box.width()),
                                       static_cast<uint32_t>(box.height()));
            auto decoded = preview->Picture(i, 0, level, stop);
            if (!decoded) return;
            const QImage shown = ImageOf(decoded->plane);
            Deliver(serial, [this, f, level, shown] {
                shownKind_ = PreviewKind::Picture;
                textureFacts_ = f;
                autoLevel_ = level;
                {
                    const QSignalBlocker a(levelChoice), b(faceChoice);
                    levelChoice->clear();
                    levelChoice->addItem(T("Level: auto", "Уровень: авто"));
                    for (uint32_t l = 0; l < f.levels; ++l)
                        levelChoice->addItem(QStringLiteral("%1: %2 x %3")
                                                 .arg(l)
                                                 .arg(std::max(1u, f.width >> l))
                                                 .arg(std::max(1u, f.height >> l)));
                    faceChoice->clear();
                    for (uint32_t k = 0; k < f.faces; ++k)
                        faceChoice->addItem(T("Face %1", "Грань %1").arg(k));
                }
                levelChoice->setVisible(f.levels > 1);
                faceChoice->setVisible(f.faces > 1);
                zoomChoice->show();
                ShowPicture(f, level, shown);
            });
            return;
        }
        case PreviewKind::Text: {
            const PreviewText t = preview->Text(i, kTextLimit);
            Deliver(serial, [this, t] {
                shownKind_ = PreviewKind::Text;
                QString size = T("%1 bytes of text", "%1 байт текста").arg(t.totalBytes);
                if (t.totalBytes > t.text.size())
                    size += T(" (the first %1 shown)", " (показаны первые %1)").arg(t.text.size());
                facts->setText(size);
                text->setPlainText(QString::fromUtf8(t.text.data(),
                                                     static_cast<qsizetype>(t.text.size())));
                pages->setCurrentWidget(text);
                levelChoice->hide();
                faceChoice->hide();
                zoomChoice->hide();
            });
            return;
        }
        case PreviewKind::Facts: {
            const PreviewFacts lines = preview->Facts(i);
            std::optional<PreviewFields> tree = preview->Fields(i);
            auto shared = tree ? std::make_shared<const PreviewFields>(std::move(*tree)) : nullptr;
            // Without a tree the bytes show below the facts.
            const uint64_t size = preview->ObjectSize(i);
            const auto page = shared ? std::vector<uint8_t>() : preview->Page(i, 0, kHexPage);
            Deliver(serial, [this, lines, shared, size, page] {
                shownKind_ = PreviewKind::Facts;
                QString table = QStringLiteral("<table>");
                for (const auto& [label, value] : lines)
                    table += QStringLiteral("<tr><td>%1:&nbsp;</td><td>%2</td></tr>")
                                 .arg(Q(label).toHtmlEscaped(), Q(value).toHtmlEscaped());
                facts->setText(table + QStringLiteral("</table>"));
                levelChoice->hide();
                faceChoice->hide();
                zoomChoice->hide();
                if (shared) {
                    FillFields(*shared);
                    fieldValues_ = shared;
                    pages->setCurrentWidget(fields);
                } else {
                    ShowBytes(size, 0, page);
                }
            });
            return;
        }
        case PreviewKind::Fields: {
            auto tree = preview->Fields(i);
            auto shared = tree ? std::make_shared<const PreviewFields>(std::move(*tree)) : nullptr;
            Deliver(serial, [this, shared] {
                shownKind_ = PreviewKind::Fields;
                if (!shared) return;
                facts->setText(Q(shared->typeName));
                FillFields(*shared);
                fieldValues_ = shared;
                pages->setCurrentWidget(fields);
            });
            return;
        }
        case PreviewKind::Bytes:
            break;
        }
        const uint64_t size = preview->ObjectSize(i);
        const auto page = preview->Page(i, 0, kHexPage);
        Deliver(serial, [this, size, page] {
            shownKind_ = PreviewKind::Bytes;
            facts->setText(T("%1 bytes", "%1 байт").arg(size));
            ShowBytes(size, 0, page);
            levelChoice->hide();
            faceChoice->hide();
            zoomChoice->hide();
        });
    });
}

void PreviewPane::RequestPicture() {
    if (!preview_ || !index_ || shownKind_ != PreviewKind::Picture) return;
    const TexturePictureFacts f = textureFacts_;
    const double zoom = kZooms[std::clamp(zoomChoice->currentIndex(), 0, 4)];
    const QSize box = pictureArea->viewport()->size();
    uint32_t level = 0;
    if (levelChoice->currentIndex() > 0)
        level = static_cast<uint32_t>(levelChoice->currentIndex() - 1);
    else if (zoom > 0)
        level = zoom >= 1 ? 0
                          : LevelForBox(f, static_cast<uint32_t>(f.width * zoom),
                                        static_cast<uint32_t>(f.height * zoom));
    else
        level = LevelForBox(f, static_cast<uint32_t>(box.width()), static_cast<uint32_t>(box.height()));
    const auto face = static_cast<uint32_t>(std::max(faceChoice->currentIndex(), 0));
    ObjectPreview* preview = preview_.get();
    const size_t i = *index_;
    Request([this, preview, i, face, level, f](uint64_t serial, const std::function<bool()>& stop) {
        auto decoded = preview->Picture(i, face, level, stop);
        if (!decoded) return;
        const QImage shown = ImageOf(decoded->plane);
        Deliver(serial, [this, f, level, shown] {
            autoLevel_ = level;
            ShowPicture(f, level, shown);
        });
    });
}

void PreviewPane::RequestPage(uint64_t offset) {
    if (!preview_ || !index_) return;
    ObjectPreview* preview = preview_.get();
    const size_t i = *index_;
    Request([this, preview, i, offset](uint64_t serial, const std::function<bool()>&) {
        const uint64_t size = preview->ObjectSize(i);
        const uint64_t at = offset >= size ? (size == 0 ? 0 : (size - 1) / kHexPage * kHexPage) : offset;
        const auto page = preview->Page(i, at, kHexPage);
        Deliver(serial, [this, at, size, page] { ShowBytes(size, at, page); });
    });
}

void PreviewPane::ShowBytes(uint64_t size, uint64_t offset, const std::vector<uint8_t>& page) {
    pageOffset_ = offset;
    bytes->setPlainText(HexLines(page, offset));
    pageBack->setEnabled(offset > 0);
    pageOn->setEnabled(offset + kHexPage < size);
    pages->setCurrentWidget(bytesPage_);
}

void PreviewPane::FillFields(const PreviewFields& tree) {
    fields->clear();
    packedElements_.clear();
    AddFieldItems(fields->invisibleRootItem(), tree.root, 0);
    for (int c = 0; c < 2; ++c)
        fields->resizeColumnToContents(c);
}

void PreviewPane::AddFieldItems(QTreeWidgetItem* parent, const FieldValue& value, size_t first) {
    const bool packed = value.field && value.field->PackedArray();
    const size_t total = FieldChildCount(value);
    const size_t end = std::min(total, first + kFieldBatch);
    const bool isArray = value.field && value.field->kind == FieldKind::Array;
    std::vector<FieldValue> made;
    if (packed) made = FieldChildren(value, first, end - first);
    for (size_t k = first; k < end; ++k) {
        const FieldValue* child = nullptr;
        if (packed) {
            if (k - first >= made.size()) break;
            packedElements_.push_back(made[k - first]);
            child = &packedElements_.back();
        } else {
            child = &value.items[k];
        }
        auto* item = new QTreeWidgetItem(parent);
        const QString name = isArray ? QStringLiteral("[%1]").arg(k)
                                     : QString::fromUtf8(child->field->name.data(),
                                                         static_cast<qsizetype>(child->field->name.size()));
        item->setText(0, name);
        item->setText(1, QString::fromUtf8(child->field->type.data(),
                                           static_cast<qsizetype>(child->field->type.size())));
        item->setText(2, Q(FieldValueText(*child)));
        if (FieldChildCount(*child) > 0) {
            // Opened on demand: a placeholder child until then.
            item->setData(0, Qt::UserRole + 1, QVariant::fromValue(reinterpret_cast<quintptr>(child)));
            (new QTreeWidgetItem(item))->setData(0, Qt::UserRole + 3, true);
        }
    }
    if (end < total) {
        auto* more = new QTreeWidgetItem(parent);
        more->setText(0, T("… %1 more (double-click)", "… ещё %1 (двойной щелчок)").arg(total - end));
        more->setData(0, Qt::UserRole, true);
        more->setData(0, Qt::UserRole + 1, QVariant::fromValue(reinterpret_cast<quintptr>(&value)));
        more->setData(0, Qt::UserRole + 2, QVariant::fromValue(static_cast<qulonglong>(end)));
    }
}

} // namespace kestrel::ui
