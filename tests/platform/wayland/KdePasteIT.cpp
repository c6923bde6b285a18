// The paste on a real headless KWin (KDE Plasma 5.27): the clipboard through data-control and the
// chord through KWin's fake input, which KWin grants by the program's desktop entry. An entry
// that names another executable gets no fake input and the paste falls back to the clipboard; the
// entry written for this executable does. With it, Shift+Insert lands the transcript in a native
// GTK field and a native Qt field, leaves no Shift down, and the user's clipboard (text, an image)
// comes back byte for byte.
#include "dictation/TextInjector.h"
#include "platform/DesktopEntry.h"
#include "platform/KeySynth.h"
#include "platform/Pasteboard.h"
#include "platform/loader/PlatformLoader.h"
#include "platform/wayland/DataControlPasteboard.h"
#include "platform/wayland/KdeFakeInputKeySynth.h"
#include "platform/wayland/WaylandConnection.h"
#include "support/KwinStack.h"
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

// KWin reads a changed desktop entry when it last looked more than this long ago.
constexpr double kEntryRead = 1.7;

std::string pngImage() {
    QImage image(6, 3, QImage::Format_ARGB32);
    image.fill(qRgba(30, 90, 200, 160));
    image.setPixel(2, 1, qRgba(255, 255, 0, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png.toStdString();
}

class KdePasteIT : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (skip_ = test::KwinStack::unavailable(); !skip_.empty()) return;
        stack_ = std::make_unique<test::KwinStack>();
        if (!stack_->ok()) return;
        stack_->exportEnvironment();
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
    }

    static void writeEntry(const std::string& content) {
        std::filesystem::create_directories(std::filesystem::path(platform::DesktopEntry::path()).parent_path());
        std::ofstream(platform::DesktopEntry::path()) << content;
    }

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
    static std::vector<std::pair<std::string, std::string>> clipboardAsOthersSeeIt() {
        std::vector<std::pair<std::string, std::string>> out;
        std::stringstream types(wlPaste({"--list-types"}));
        for (std::string type; std::getline(types, type);)
            if (!type.empty()) out.emplace_back(type, wlPaste({"--no-newline", "--type", type}));
        return out;
    }
    static bool pasteAndRestore(const std::string& text, const std::function<bool()>& landed) {
        TextInjector injector;
        bool sent = false;
        injector.pasteViaClipboard(text, [&](bool s) { sent = s; });
        test::fakes().scheduler.advance(TextInjector::pasteDelay);
        const bool ok = pumpUntil(landed, 5);
        test::fakes().scheduler.advance(TextInjector::restoreDelay);
        pumpFor(0.2);
        return ok && sent;
    }

    static inline std::string skip_;
    static inline std::unique_ptr<test::KwinStack> stack_;
    static inline std::unique_ptr<platform::WaylandConnection> connection_;
    static inline std::unique_ptr<platform::DataControlPasteboard> pasteboard_;
    static inline std::unique_ptr<platform::KdeFakeInputKeySynth> keys_;
};

TEST_F(KdePasteIT, FakeInputIsGrantedOnlyByAnEntryNamingThisExecutableAndWithoutItThePasteFallsBack) {
    // An entry of an older install, at another path.
    writeEntry(platform::DesktopEntry::updated("", "/opt/elsewhere/bin/tovrin-app"));
    pumpFor(kEntryRead);
    {
        platform::PlatformLoader loader(nullptr);
        const platform::SessionChoice installed = loader.install(
            {platform::DesktopKind::kde, platform::KeySource::none, platform::ClipboardPath::dataControl,
             platform::PastePath::kdeFakeInput});
        EXPECT_EQ(installed.clipboard, platform::ClipboardPath::dataControl);
        EXPECT_EQ(installed.paste, platform::PastePath::clipboardOnly);
        EXPECT_FALSE(platform::KeySynth::shared().paste()) << "nothing was sent: the widget says \"Copied\"";
        test::reset();
    }

    // The start-up's entry names this executable: KWin offers fake input to the next connection.
    EXPECT_EQ(platform::DesktopEntry::ensure(), platform::DesktopEntry::Update::written);
    pumpFor(kEntryRead);
    connection_ = std::make_unique<platform::WaylandConnection>();
    keys_ = std::make_unique<platform::KdeFakeInputKeySynth>(*connection_);
    EXPECT_TRUE(keys_->ok()) << readFile(platform::DesktopEntry::path());
}

TEST_F(KdePasteIT, ShiftInsertPastesIntoGtkAndQtFieldsLeavesNoShiftDownAndTheClipboardComesBack) {
    ASSERT_TRUE(keys_ && keys_->ok()) << "fake input was granted";
    pasteboard_ = std::make_unique<platform::DataControlPasteboard>(*connection_);
    ASSERT_TRUE(pasteboard_->ok()) << "KWin offers data-control";
    platform::Pasteboard::setGeneral(pasteboard_.get());
    platform::KeySynth::setShared(keys_.get());

    ASSERT_TRUE(stack_->startField()) << stack_->log("field") << stack_->fieldEvents();
    ASSERT_EQ(stack_->run({"wl-copy", "what the user copied ✓"}), 0);
    const auto text = clipboardAsOthersSeeIt();
    ASSERT_GE(text.size(), 2u) << "wl-copy offers text under several names";
    const std::string sentence = "the quick brown fox jumps over the lazy dog";
    EXPECT_TRUE(pasteAndRestore(sentence, [&] { return stack_->fieldText() == sentence; }))
        << "field holds \"" << stack_->fieldText() << "\"\n" << stack_->fieldEvents();
    EXPECT_EQ(clipboardAsOthersSeeIt(), text);
    // The next key typed is not shifted.
    ASSERT_TRUE(stack_->keys({"30:1", "30:0"}));
    EXPECT_TRUE(pumpUntil([&] { return stack_->fieldText() == sentence + "a"; }, 3)) << stack_->fieldText();

    ASSERT_TRUE(stack_->startQtField()) << stack_->log("qtfield");
    const std::string png = pngImage();
    ASSERT_EQ(stack_->run({"wl-copy", "--type", "image/png"}, nullptr, png), 0);
    const auto image = clipboardAsOthersSeeIt();
    ASSERT_EQ(image.size(), 1u);
    ASSERT_EQ(image[0].second, png);
    const std::string other = "please send the report to my manager tomorrow";
    EXPECT_TRUE(pasteAndRestore(other, [&] { return stack_->qtFieldText() == other; }))
        << "the Qt field holds \"" << stack_->qtFieldText() << "\"\n" << stack_->log("qtfield");
    EXPECT_EQ(clipboardAsOthersSeeIt(), image);
}

}  // namespace
