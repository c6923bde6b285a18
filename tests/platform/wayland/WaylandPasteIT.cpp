// The Wayland paste on a real headless sway: the clipboard through data-control and the chord
// through a virtual keyboard, driven by the paste of the dictation layer. The transcript lands
// in a native GTK field (Control+V) and in foot (Control+Shift+V), and the user's clipboard comes
// back afterwards in every format it was offered in, byte for byte.
#include "dictation/TextInjector.h"
#include "platform/KeySynth.h"
#include "platform/Pasteboard.h"
#include "platform/wayland/DataControlPasteboard.h"
#include "platform/wayland/VirtualKeyboardKeySynth.h"
#include "platform/wayland/WaylandConnection.h"
#include "support/SwayStack.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Runs the run loop (our Wayland events, our clipboard transfers) until `ready` or the time-out.
bool pumpUntil(const std::function<bool()>& ready, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ready()) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ready();
}

void pumpFor(double seconds) { pumpUntil([] { return false; }, seconds); }

std::string pngImage() {
    QImage image(7, 5, QImage::Format_ARGB32);
    image.fill(qRgba(10, 200, 30, 128));
    image.setPixel(3, 2, qRgba(255, 0, 0, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png.toStdString();
}

class WaylandPasteIT : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (skip_ = test::SwayStack::unavailable(); !skip_.empty()) return;
        stack_ = std::make_unique<test::SwayStack>();
        if (!stack_->ok()) return;
        stack_->exportEnvironment();
        connection_ = std::make_unique<platform::WaylandConnection>();
        pasteboard_ = std::make_unique<platform::DataControlPasteboard>(*connection_);
        keys_ = std::make_unique<platform::VirtualKeyboardKeySynth>(*connection_);
        xdisplay_ = stack_->xwaylandDisplay();
        platform::Pasteboard::setGeneral(pasteboard_.get());
        platform::KeySynth::setShared(keys_.get());
        test::fakes().scheduler.advance(0.2);  // the keymap has settled
    }
    static void TearDownTestSuite() {
        test::reset();
        keys_.reset();
        pasteboard_.reset();
        connection_.reset();
        stack_.reset();
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(stack_->ok()) << stack_->error();
        ASSERT_TRUE(connection_->ok());
        ASSERT_TRUE(pasteboard_->ok()) << "sway offers data-control";
        ASSERT_TRUE(keys_->ok()) << "sway offers the virtual keyboard";
    }

    // wl-paste's answer (as another client sees the clipboard), with our loop running meanwhile:
    // while the clipboard is ours, we are the one who answers.
    static std::string wlPaste(const std::vector<std::string>& args) {
        const std::string out = stack_->work() + "/paste.out";
        std::filesystem::remove(out);
        std::string command = "wl-paste";
        for (const auto& a : args) command += " '" + a + "'";
        const pid_t pid = stack_->spawn({"sh", "-c", command + " > " + out});
        int status = 0;
        pumpUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10);
        stack_->stop(pid);
        return readFile(out);
    }
    // Every type the clipboard offers, with its bytes.
    static std::vector<std::pair<std::string, std::string>> clipboardAsOthersSeeIt() {
        std::vector<std::pair<std::string, std::string>> out;
        std::stringstream types(wlPaste({"--list-types"}));
        for (std::string type; std::getline(types, type);)
            if (!type.empty()) out.emplace_back(type, wlPaste({"--no-newline", "--type", type}));
        return out;
    }
    // Pastes `text` as a dictation does and runs the clock through the restore, with our loop
    // running all along; true once `landed` holds.
    static bool pasteAndRestore(const std::string& text, const std::function<bool()>& landed) {
        TextInjector injector;
        injector.pasteViaClipboard(text);
        test::fakes().scheduler.advance(TextInjector::pasteDelay);
        const bool ok = pumpUntil(landed, 5);
        test::fakes().scheduler.advance(TextInjector::restoreDelay);
        pumpFor(0.2);
        return ok;
    }

    static inline std::string skip_, xdisplay_;
    static inline std::unique_ptr<test::SwayStack> stack_;
    static inline std::unique_ptr<platform::WaylandConnection> connection_;
    static inline std::unique_ptr<platform::DataControlPasteboard> pasteboard_;
    static inline std::unique_ptr<platform::VirtualKeyboardKeySynth> keys_;
};

TEST_F(WaylandPasteIT, ControlVPastesIntoAGtkFieldAndEveryTextFormatComesBackByteForByte) {
    ASSERT_TRUE(stack_->startField()) << stack_->log("field") << stack_->fieldEvents();
    ASSERT_EQ(stack_->run({"wl-copy", "what the user copied ✓"}), 0);
    const auto before = clipboardAsOthersSeeIt();
    ASSERT_GE(before.size(), 2u) << "wl-copy offers text under several names";

    // What we save is what the owner offers, every format of it.
    const platform::PasteboardSnapshot saved = pasteboard_->snapshot();
    EXPECT_EQ(saved.items, before);

    const std::string sentence = "the quick brown fox jumps over the lazy dog";
    EXPECT_TRUE(pasteAndRestore(sentence, [&] { return stack_->fieldText() == sentence; }))
        << "field holds \"" << stack_->fieldText() << "\"\n" << stack_->fieldEvents();
    EXPECT_EQ(clipboardAsOthersSeeIt(), before);
    EXPECT_EQ(stack_->fieldText(), sentence) << "pasted once";
    EXPECT_EQ(stack_->focusedAppId(), "gtk_field.py");
}

TEST_F(WaylandPasteIT, FootGetsControlShiftVWithoutLineBreaksAndAnImageOnTheClipboardComesBack) {
    const std::string file = stack_->work() + "/foot.txt";
    ASSERT_TRUE(stack_->startFootCat(file));
    const std::string png = pngImage();
    ASSERT_EQ(stack_->run({"wl-copy", "--type", "image/png"}, nullptr, png), 0);
    const auto before = clipboardAsOthersSeeIt();
    ASSERT_EQ(before.size(), 1u);
    ASSERT_EQ(before[0].second, png);

    // A line break would run what stands before it: a terminal gets a space instead.
    const std::string sentence = "please send the report to my manager tomorrow";
    EXPECT_TRUE(pasteAndRestore("please send the report\nto my manager tomorrow",
                                [&] { return readFile(file) == sentence; }))
        << "foot's cat wrote \"" << readFile(file) << "\" (a ^V there is Control+V without Shift)";
    EXPECT_EQ(clipboardAsOthersSeeIt(), before);
}

TEST_F(WaylandPasteIT, ACopyByTheUserBeforeTheRestoreIsKept) {
    ASSERT_EQ(stack_->run({"wl-copy", "older copy"}), 0);
    pumpFor(0.2);
    TextInjector injector;
    injector.pasteViaClipboard("a transcript");
    test::fakes().scheduler.advance(TextInjector::pasteDelay);
    pumpFor(0.2);
    // wl-copy waits for nobody but the compositor; our loop runs while it sets the clipboard.
    const pid_t copy = stack_->spawn({"wl-copy", "copied meanwhile"});
    int status = 0;
    pumpUntil([&] { return waitpid(copy, &status, WNOHANG) == copy; }, 5);
    pumpFor(0.2);
    test::fakes().scheduler.advance(TextInjector::restoreDelay);
    pumpFor(0.2);
    EXPECT_EQ(wlPaste({"--no-newline"}), "copied meanwhile");
}

// sway names an XWayland window by its X11 class.
TEST_F(WaylandPasteIT, AnXWaylandTerminalGetsControlShiftV) {
    ASSERT_FALSE(xdisplay_.empty()) << "no XWayland display";
    const std::string file = stack_->work() + "/xterminal.txt";
    stack_->spawn({"lxterminal", "--command=sh -c 'stty -icanon; cat > " + file + "'"},
                  {"DISPLAY=" + xdisplay_, "GDK_BACKEND=x11", "NO_AT_BRIDGE=1"}, stack_->work() + "/lxterminal.log");
    ASSERT_TRUE(pumpUntil([&] { return stack_->focusedAppId() == "Lxterminal"; }, 20)) << stack_->log("lxterminal");
    pumpFor(0.5);
    const std::string sentence = "from the dictation";
    EXPECT_TRUE(pasteAndRestore(sentence, [&] { return readFile(file) == sentence; }))
        << "the terminal's cat wrote \"" << readFile(file) << "\"";
}

}  // namespace
