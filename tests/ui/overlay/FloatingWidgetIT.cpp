// The real panel on an X display: it shows and animates above another client's window, can be
// dragged, and never takes the keyboard focus from that client's text field.
#include "platform/Paths.h"
#include "platform/qt/QtScheduler.h"
#include "support/DesktopTestMain.h"
#include "ui/kit/Kestal.h"
#include "ui/overlay/FloatingWidget.h"
#include "ui/overlay/WidgetView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// The other client: a window with one text field that has the keyboard focus. It writes its
// window id to `idFile` once focused and its field's text to `textFile` on every change.
int runFieldClient(int argc, char** argv, const char* idFile, const char* textFile) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("field client");
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit;
    layout->addWidget(field);
    window.setGeometry(0, 0, 1920, 1080);  // under the panel, wherever it goes
    QObject::connect(field, &QLineEdit::textChanged, [textFile](const QString& text) {
        QFile f(textFile);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(text.toUtf8());
    });
    window.show();
    window.activateWindow();
    field->setFocus();
    QTimer::singleShot(300, [&] {
        window.activateWindow();
        field->setFocus();
        QFile f(idFile);
        if (f.open(QIODevice::WriteOnly)) f.write(QByteArray::number(qulonglong(window.winId())));
    });
    return app.exec();
}

bool waitUntil(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (done()) return true;
        QThread::msleep(10);
    }
    return done();
}

void pump(double seconds) {
    waitUntil([] { return false; }, seconds);
}

std::string readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

Display* display() { return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display(); }

Window focusWindow() {
    Window w = 0;
    int revert = 0;
    XGetInputFocus(display(), &w, &revert);
    return w;
}

void key(KeySym sym) {
    const KeyCode code = XKeysymToKeycode(display(), sym);
    XTestFakeKeyEvent(display(), code, True, 0);
    XTestFakeKeyEvent(display(), code, False, 0);
    XFlush(display());
}

bool near(QColor a, QColor b, int tolerance) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST(FloatingWidgetOnX11, ShowsAnimatesAndLeavesTheFocusWithTheOtherClient) {
    platform::QtScheduler scheduler;
    platform::Scheduler::setMain(&scheduler);
    platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);

    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString idFile = tmp.filePath("client.id"), textFile = tmp.filePath("client.text");
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    test::desktop().spawn({self, "--field-client", idFile.toStdString(), textFile.toStdString()});
    ASSERT_TRUE(waitUntil([&] { return !readAll(idFile).empty(); }, 15)) << "the field client did not start";
    const Window client = std::stoul(readAll(idFile));
    ASSERT_TRUE(waitUntil([&] { return focusWindow() == client; }, 5)) << "the client has no focus to begin with";

    FloatingWidget widget;
    widget.showRecording();
    ASSERT_TRUE(widget.isShown());
    auto* view = widget.window()->findChild<WidgetView*>();
    ASSERT_NE(view, nullptr);
    const long framesBefore = view->framesPainted();
    for (int i = 0; i < 60; ++i) {
        widget.pushLevel(0.3f + 0.6f * float(i % 7) / 6.0f);
        pump(1.0 / 60);
    }
    EXPECT_GT(view->framesPainted() - framesBefore, 20) << "the waveform animates while shown";
    EXPECT_EQ(focusWindow(), client) << "showing the panel moved the focus";

    // Keys still reach the other client's field.
    key(XK_o);
    key(XK_k);
    EXPECT_TRUE(waitUntil([&] { return readAll(textFile) == "ok"; }, 5)) << readAll(textFile);

    // A screenshot of the whole screen: the gold dot is where the panel says it is.
    const QString shot = QDir::current().filePath("floating-widget-xvfb.png");
    ASSERT_EQ(test::desktop().run({"/usr/bin/import", "-window", "root", "-display", test::desktop().display(),
                                   shot.toStdString()}),
              0);
    const QImage screen(shot);
    ASSERT_FALSE(screen.isNull());
    const QPoint dot = widget.window()->pos() + view->dotRect().center().toPoint();
    EXPECT_TRUE(near(screen.pixelColor(dot), Kestal::gold, 30)) << screen.pixelColor(dot).name().toStdString();
    const QPoint capsule = widget.window()->pos() + QPoint(int(view->capsuleRect().center().x()), int(view->capsuleRect().top() + 3));
    EXPECT_TRUE(near(screen.pixelColor(capsule), Kestal::bg, 8)) << screen.pixelColor(capsule).name().toStdString();

    // Drag the capsule by its background: it follows the pointer and the focus stays put.
    const QPoint start = widget.window()->pos();
    const QRectF cap = view->capsuleRect();
    const QPoint grip = start + QPoint(int(cap.left() + 8), int(cap.center().y()));
    XTestFakeMotionEvent(display(), -1, grip.x(), grip.y(), 0);
    XTestFakeButtonEvent(display(), 1, True, 0);
    XFlush(display());
    pump(0.1);
    for (int step = 1; step <= 10; ++step) {
        XTestFakeMotionEvent(display(), -1, grip.x() - 12 * step, grip.y() - 8 * step, 0);
        XFlush(display());
        pump(0.03);
    }
    XTestFakeButtonEvent(display(), 1, False, 0);
    XFlush(display());
    EXPECT_TRUE(waitUntil([&] { return widget.window()->pos() == start - QPoint(120, 80); }, 3))
        << widget.window()->pos().x() << "," << widget.window()->pos().y();
    pump(0.2);
    EXPECT_EQ(focusWindow(), client) << "dragging the panel moved the focus";

    // The result message goes away by itself.
    widget.flashResult("Inserted \u2713", true);
    pump(0.5);
    EXPECT_TRUE(widget.isShown());
    EXPECT_TRUE(waitUntil([&] { return !widget.isShown(); }, 3));
    EXPECT_EQ(focusWindow(), client);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--field-client") == 0) return runFieldClient(argc, argv, argv[2], argv[3]);
    return test::runDesktopTests(argc, argv, {.display = true});
}
