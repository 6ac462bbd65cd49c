#pragma once
#include "common/Localization.h"
#include "session/Preview.h"

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace kestrel::ui {

// A picture over a checkerboard (so transparent parts show), fitted to the widget or at a zoom.
class PictureView : public QWidget {
public:
    explicit PictureView(QWidget* parent);
    // `fullSize`: the size of level 0, which zoom and fit measure (a smaller level is stretched).
    void SetPicture(const QImage& picture, QSize fullSize);
    const QImage& Picture() const { return picture_; }
    // 0 fits the picture to the view (never enlarged); else the shown size per stored pixel.
    void SetZoom(double zoom);
    double Zoom() const { return zoom_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    QSize fullSize_;
    double zoom_ = 0;
};

// The preview beside the list: what the selected object holds, read and decoded on a worker
// thread, one request at a time; a request made while another runs makes that one stop.
class PreviewPane : public QWidget {
public:
    PreviewPane(const InterfaceTexts& texts, QWidget* parent);
    ~PreviewPane() override;

    // Shows object `index` of `inner` (nothing when index is empty). The archive and inner file
    // must stay as they are until Halt or the next Show with another inner file.
    void Show(const Archive* archive, const ParsedInnerFile* inner, const RunOptions& options,
              std::optional<size_t> index);
    // Stops the running request, waits for the worker and forgets the inner file: before the
    // archive or the inner file changes.
    void Halt();
    // True while a request has not shown its result yet.
    bool Pending() const { return applied_ != requested_; }
    std::optional<PreviewKind> ShownKind() const { return shownKind_; }

    QLabel* heading;   // the object's name and what is shown
    QLabel* facts;     // sizes, format, levels; the facts of fonts, meshes and sounds
    QLabel* message;   // why nothing can be shown
    QComboBox *levelChoice, *faceChoice, *zoomChoice;
    PictureView* picture;
    QScrollArea* pictureArea;
    QPlainTextEdit* text;
    QTreeWidget* fields;
    QPlainTextEdit* bytes;
    QPushButton *pageBack, *pageOn;
    QStackedWidget* pages;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    using Job = std::function<void(uint64_t serial, const std::function<bool()>& stop)>;
    void Request(Job job);
    // Runs `apply` on the interface thread when request `serial` is still the latest.
    void Deliver(uint64_t serial, std::function<void()> apply);
    void ShowPicture(const TexturePictureFacts& f, uint32_t level, const QImage& shown);
    void WorkerLoop();
    void ShowMessage(const QString& text);
    void RequestPicture();
    void RequestPage(uint64_t offset);
    void FillFields(const PreviewFields& fields);
    void ShowBytes(uint64_t size, uint64_t offset, const std::vector<uint8_t>& page);
    void AddFieldItems(QTreeWidgetItem* parent, const FieldValue& value, size_t first);
    QString T(const char* english, const char* russian) const;

    const InterfaceTexts& texts_;
    const Archive* archive_ = nullptr;
    const ParsedInnerFile* inner_ = nullptr;
    std::unique_ptr<ObjectPreview> preview_;
    std::optional<size_t> index_;
    std::optional<PreviewKind> shownKind_;
    TexturePictureFacts textureFacts_;
    uint32_t autoLevel_ = 0;
    bool modernNames_ = false;
    uint64_t pageOffset_ = 0;
    std::shared_ptr<const PreviewFields> fieldValues_;
    std::deque<FieldValue> packedElements_; // elements of packed arrays the tree shows
    QTimer resizeTimer_;
    QWidget* bytesPage_ = nullptr;

    // Worker state: the latest job, the serial of the latest request and of the last one shown.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Job> job_;
    bool working_ = false;
    bool quit_ = false;
    std::atomic<uint64_t> latest_{0};
    uint64_t requested_ = 0; // interface thread only
    uint64_t applied_ = 0;   // interface thread only
    std::thread worker_;
};

} // namespace kestrel::ui
