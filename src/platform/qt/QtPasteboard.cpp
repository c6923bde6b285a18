#include "platform/qt/QtPasteboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <X11/Xlib.h>

namespace platform {

namespace {

QClipboard* board() { return QGuiApplication::clipboard(); }

Display* x11Display() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

unsigned long clipboardOwner(Display* display) {
    return XGetSelectionOwner(display, XInternAtom(display, "CLIPBOARD", False));
}

// Qt's alias for "some image format is offered"; the real formats are copied on their own.
const QString kQtImage = QStringLiteral("application/x-qt-image");

}  // namespace

QtPasteboard::QtPasteboard(ForeignReader foreignReader)
    : foreignReader_(std::move(foreignReader)), context_(std::make_unique<QObject>()) {
    // Qt reports our own changes when they are made and those of other clients as they arrive.
    QObject::connect(board(), &QClipboard::dataChanged, context_.get(), [this] { ++count_; });
}

QtPasteboard::~QtPasteboard() {
    std::vector<Reader> readers;
    {
        std::lock_guard lock(readersMutex_);
        readers.swap(readers_);
    }
    for (auto& r : readers) r.thread.join();  // each ends by its own deadline
}

// Another client's copy reaches Qt as an event; a restore due before that event is read would
// overwrite the copy. Asking the server who owns the selection closes that gap.
std::int64_t QtPasteboard::changeCount() const {
    if (ourOwner_) {
        if (Display* display = x11Display(); display && clipboardOwner(display) != ourOwner_) {
            ourOwner_ = 0;
            ++count_;
        }
    }
    return count_.load();
}

void QtPasteboard::noteOurOwnership() {
    Display* display = x11Display();
    ourOwner_ = display ? clipboardOwner(display) : 0;
}

void QtPasteboard::clear() {
    board()->clear(QClipboard::Clipboard);
    ourOwner_ = 0;
}

void QtPasteboard::setString(const std::string& text) {
    board()->setText(QString::fromStdString(text), QClipboard::Clipboard);
    noteOurOwnership();
}

std::optional<std::string> QtPasteboard::string() const {
    const QMimeData* data = board()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText()) return std::nullopt;
    return data->text().toStdString();
}

PasteboardSnapshot QtPasteboard::snapshot() const {
    PasteboardSnapshot out;
    const QMimeData* data = board()->mimeData(QClipboard::Clipboard);
    if (!data) return out;
    const QStringList formats = data->formats();
    bool haveImage = false;
    for (const QString& format : formats) {
        // Only MIME types: X11 bookkeeping targets (TARGETS, TIMESTAMP, …) are not content.
        if (format == kQtImage || !format.contains(u'/')) continue;
        if (format.startsWith(u"image/")) haveImage = true;
        const QByteArray bytes = data->data(format);
        out.items.emplace_back(format.toStdString(), bytes.toStdString());
    }
    if (!haveImage && formats.contains(kQtImage)) {
        const QImage image = qvariant_cast<QImage>(data->imageData());
        if (!image.isNull()) {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            if (image.save(&buffer, "PNG")) out.items.emplace_back("image/png", png.toStdString());
        }
    }
    return out;
}

void QtPasteboard::restore(const PasteboardSnapshot& snapshot) {
    if (snapshot.empty()) {
        clear();
        return;
    }
    auto* data = new QMimeData;
    for (const auto& [format, bytes] : snapshot.items)
        data->setData(QString::fromStdString(format), QByteArray::fromStdString(bytes));
    board()->setMimeData(data, QClipboard::Clipboard);  // the clipboard takes ownership
    noteOurOwnership();
}

void QtPasteboard::snapshotAsync(std::function<void(PasteboardSnapshot)> done) const {
    if (!foreignReader_ || board()->ownsClipboard()) {
        done(snapshot());
        return;
    }
    std::lock_guard lock(readersMutex_);
    // Reads that are over are joined here, so threads do not pile up.
    for (auto it = readers_.begin(); it != readers_.end();) {
        if (*it->finished) {
            it->thread.join();
            it = readers_.erase(it);
        } else {
            ++it;
        }
    }
    QObject* context = context_.get();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([reader = foreignReader_, context, finished, done = std::move(done)]() mutable {
        PasteboardSnapshot saved = reader();
        QMetaObject::invokeMethod(
            context, [done = std::move(done), saved = std::move(saved)]() mutable { done(std::move(saved)); },
            Qt::QueuedConnection);
        *finished = true;
    });
    readers_.push_back({std::move(thread), std::move(finished)});
}

}  // namespace platform
