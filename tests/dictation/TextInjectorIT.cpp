// Text insertion on a real X display: the transcript lands in another process's focused field
// through the real clipboard and the XTest paste chord, and the earlier clipboard is back in the
// clipboard of the display afterwards, as other clients see it.
#include "dictation/TextInjector.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/qt/QtScheduler.h"
#include "platform/x11/X11ClipboardReader.h"
#include "platform/x11/X11KeySynth.h"
#include "support/DesktopTestMain.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTimer>
#include <QTemporaryDir>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <csignal>
#include <functional>
#include <memory>
#include <thread>

namespace {

Display* display() { return qApp->nativeInterface<QNativeInterface::QX11Application>()->display(); }

// Runs the event loop (so this process serves clipboard requests) for `seconds`.
void pump(double seconds) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool waitFor(const std::function<bool()>& ready, double seconds) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < seconds * 1000) {
        if (ready()) return true;
        pump(0.01);
    }
    return ready();
}

std::string readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

// Reads the display's clipboard as another client would, while this process keeps serving it.
std::string probe(const QStringList& extra = {}) {
    QProcess p;
    p.start("xclip", QStringList{"-selection", "clipboard", "-o"} + extra);
    if (!p.waitForStarted(5000)) return "<no xclip>";
    waitFor([&] { return p.state() == QProcess::NotRunning; }, 10);
    return p.readAllStandardOutput().toStdString();
}

class TextInjectorIT : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        ASSERT_TRUE(dir_.isValid());
        scheduler_ = std::make_unique<platform::QtScheduler>();
        platform::Scheduler::setMain(scheduler_.get());
        // As the program has it: another client's clipboard is read on a connection of its own.
        platform::X11ClipboardReader::prepare();
        pasteboard_ = std::make_unique<platform::QtPasteboard>(
            [name = std::string(DisplayString(display()))] { return platform::X11ClipboardReader::read(name, 0.3); });
        platform::Pasteboard::setGeneral(pasteboard_.get());
        keySynth_ = std::make_unique<platform::X11KeySynth>(display());
        platform::KeySynth::setShared(keySynth_.get());
    }
    void TearDown() override {
        for (pid_t pid : targets_) kill(pid, SIGTERM);
        test::reset();  // the fakes again, before the real services go away
    }

    // Starts a target window and waits until its field has focus.
    QString startTarget() {
        const QString out = dir_.filePath("field" + QString::number(targets_.size()) + ".txt");
        targets_.push_back(test::desktop().spawn({TOVRIN_PASTE_TARGET, out.toStdString()}));
        EXPECT_TRUE(waitFor([&] { return QFile::exists(out + ".ready"); }, 20)) << "target window never got focus";
        return out;
    }
    // Another client takes the clipboard with `bytes` of `type`, and keeps it until someone else does.
    void copyAsAnotherClient(const std::string& bytes, const std::string& type = "UTF8_STRING") {
        const QString file = dir_.filePath("copy" + QString::number(++copies_));
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        }
        test::desktop().spawn({"xclip", "-selection", "clipboard", "-quiet", "-t", type, "-i", file.toStdString()});
        const QStringList typeArg = type == "UTF8_STRING" ? QStringList{} : QStringList{"-t", QString::fromStdString(type)};
        ASSERT_TRUE(waitFor([&] { return probe(typeArg) == bytes; }, 10)) << "the other client's copy never showed";
        pump(0.1);  // let this process read the owner change
    }
    void pressThroughXTest(KeySym sym, bool down) {
        XTestFakeKeyEvent(display(), XKeysymToKeycode(display(), sym), down ? True : False, CurrentTime);
        XSync(display(), False);
    }

    QTemporaryDir dir_;
    std::unique_ptr<platform::QtScheduler> scheduler_;
    std::unique_ptr<platform::QtPasteboard> pasteboard_;
    std::unique_ptr<platform::X11KeySynth> keySynth_;
    std::vector<pid_t> targets_;
    int copies_ = 0;
    TextInjector injector;
};

TEST_F(TextInjectorIT, PastesIntoAnotherProgramAndGivesTheEarlierTextBack) {
    const QString field = startTarget();
    copyAsAnotherClient("earlier clipboard text");

    injector.pasteViaClipboard("Привіт, hello from the transcript");
    // The transcript goes on once the user's clipboard is saved, well before the chord.
    EXPECT_TRUE(waitFor([&] { return probe() == "Привіт, hello from the transcript"; }, 0.3))
        << "the transcript never went on the clipboard";
    EXPECT_TRUE(waitFor([&] { return readFile(field) == "Привіт, hello from the transcript"; }, 0.6))
        << "field holds: " << readFile(field);

    pump(0.7);
    EXPECT_EQ(probe(), "earlier clipboard text");
    EXPECT_EQ(readFile(field), "Привіт, hello from the transcript") << "pasted once";
}

TEST_F(TextInjectorIT, GivesAnEarlierImageBackByteForByte) {
    QImage image(64, 48, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(8, 8, 30, 20, QColor(200, 40, 90));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));

    const QString field = startTarget();
    copyAsAnotherClient(png.toStdString(), "image/png");

    injector.pasteViaClipboard("text over an image");
    EXPECT_TRUE(waitFor([&] { return readFile(field) == "text over an image"; }, 0.6));
    pump(0.7);
    EXPECT_EQ(probe({"-t", "image/png"}), png.toStdString());
    EXPECT_NE(probe({"-t", "TARGETS"}).find("image/png"), std::string::npos);
}

TEST_F(TextInjectorIT, KeepsRichTextWithItsPlainText) {
    startTarget();
    // xclip offers one type per client, so the rich clipboard is made by this process and the
    // check reads it through another client.
    pasteboard_->restore({{{"text/plain", "plain words"}, {"text/html", "<b>rich</b> words"}}});
    injector.pasteViaClipboard("transcript");
    pump(0.75);
    EXPECT_EQ(probe(), "plain words");
    EXPECT_EQ(probe({"-t", "text/html"}), "<b>rich</b> words");
}

TEST_F(TextInjectorIT, ACopyByAnotherClientMeanwhileIsNotOverwritten) {
    const QString field = startTarget();
    copyAsAnotherClient("earlier");
    injector.pasteViaClipboard("the transcript");
    EXPECT_TRUE(waitFor([&] { return readFile(field) == "the transcript"; }, 0.6));
    copyAsAnotherClient("copied by the user meanwhile");
    pump(1.0);
    EXPECT_EQ(probe(), "copied by the user meanwhile");
}

TEST_F(TextInjectorIT, AnEmptyTextComesBackAndAnEmptyClipboardKeepsTheTranscript) {
    startTarget();
    // Nobody owns the clipboard: the transcript stays.
    XSetSelectionOwner(display(), XInternAtom(display(), "CLIPBOARD", False), None, CurrentTime);
    XSync(display(), False);
    pump(0.1);
    injector.pasteViaClipboard("stays on the clipboard");
    pump(0.75);
    EXPECT_EQ(probe(), "stays on the clipboard");

    copyAsAnotherClient("x");
    copyAsAnotherClient("");
    injector.pasteViaClipboard("goes away");
    pump(1.0);  // the other client's clipboard is read first (well within 0.3 s)
    EXPECT_EQ(probe(), "");
    EXPECT_NE(probe({"-t", "TARGETS"}).find("UTF8_STRING"), std::string::npos) << "an empty text, not nothing";
}

TEST_F(TextInjectorIT, CopyOnlyTypesNothingAndLeavesTheTranscriptOnTheClipboard) {
    const QString field = startTarget();
    copyAsAnotherClient("earlier");
    // What the dictation does when copy-only is on.
    auto& board = platform::Pasteboard::general();
    board.clear();
    board.setString("copied, not typed");
    pump(1.0);
    EXPECT_EQ(readFile(field), "");
    EXPECT_EQ(probe(), "copied, not typed");
}

// An owner that never answers (0), or one that lists 21 formats and never sends any: the paste
// still lands at once, the event loop keeps turning meanwhile (a click on the tray would be
// answered), and the transcript stays, since nothing of the earlier clipboard could be read.
class SilentOwner : public TextInjectorIT, public ::testing::WithParamInterface<int> {};

TEST_P(SilentOwner, HoldsUpNeitherThePasteNorTheEventLoop) {
    const QString field = startTarget();
    const QString ready = dir_.filePath("owner.ready");
    targets_.push_back(test::desktop().spawn({TOVRIN_SILENT_OWNER, ready.toStdString(), std::to_string(GetParam())}));
    ASSERT_TRUE(waitFor([&] { return QFile::exists(ready); }, 10));
    pump(0.1);

    QElapsedTimer clock;
    clock.start();
    qint64 clickAnsweredAt = -1;
    QTimer::singleShot(100, [&] { clickAnsweredAt = clock.elapsed(); });
    injector.pasteViaClipboard("pasted past a silent owner");
    EXPECT_TRUE(waitFor([&] { return readFile(field) == "pasted past a silent owner"; }, 1.0))
        << "field holds: " << readFile(field);
    EXPECT_GE(clickAnsweredAt, 0);
    EXPECT_LT(clickAnsweredAt, 400) << "the event loop stood still while the clipboard was read";
    pump(0.7);
    EXPECT_EQ(probe(), "pasted past a silent owner");
}

INSTANTIATE_TEST_SUITE_P(NeverAnswersOrNeverSends, SilentOwner, ::testing::Values(0, 21),
                         [](const auto& info) { return info.param == 0 ? "NeverAnswers" : "ListsTwentyOneFormats"; });

class HeldModifier : public TextInjectorIT, public ::testing::WithParamInterface<KeySym> {};

TEST_P(HeldModifier, StillPastesWhileTheKeyIsHeld) {
    const QString field = startTarget();
    copyAsAnotherClient("earlier");
    pressThroughXTest(GetParam(), true);
    ASSERT_FALSE(keySynth_->heldModifiers().empty()) << "the key should be down now";

    injector.pasteViaClipboard("pasted despite the key");
    EXPECT_TRUE(waitFor([&] { return readFile(field) == "pasted despite the key"; }, 0.6))
        << "field holds: " << readFile(field);
    pump(0.7);
    EXPECT_EQ(probe(), "earlier");
    pressThroughXTest(GetParam(), false);
}

INSTANTIATE_TEST_SUITE_P(RightCommandAndRightOption, HeldModifier, ::testing::Values(XK_Super_R, XK_Alt_R),
                         [](const auto& info) { return info.param == XK_Super_R ? "Super_R" : "Alt_R"; });

}  // namespace

int main(int argc, char** argv) { return test::runDesktopTests(argc, argv, {.display = true}); }
