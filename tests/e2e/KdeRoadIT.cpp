// The whole road on a headless KWin (KDE Plasma 5.27): the program started as a new user of the
// session, its UI on XWayland; the push-to-talk key is the shortcut it binds through the
// GlobalShortcuts portal (Menu), pressed through KWin's fake input while espeak-ng speech plays
// into the virtual microphone. The paste goes through data-control and KWin's fake input, which
// the desktop entry the program writes at start-up grants it. The sentence lands in a native GTK
// field and in a native Qt 6 field, the field never sees the press, the user's clipboard (text,
// an image) comes back byte for byte, and the second start finds the shortcut still bound.
#include "e2e/Road.h"
#include "e2e/WaylandRoadFixture.h"
#include "support/KwinStack.h"
#include "support/PulseServer.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <filesystem>
#include <sstream>
#include <sys/wait.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMenuKey = "127";  // KEY_COMPOSE, Menu in the default layout

std::string pngImage() {
    QImage image(5, 8, QImage::Format_ARGB32);
    image.fill(qRgba(90, 200, 40, 220));
    image.setPixel(2, 6, qRgba(0, 0, 0, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png.toStdString();
}

class KdeRoadIT : public WaylandRoadFixture<test::KwinStack> {
protected:
    static void SetUpTestSuite() {
        if (skip_ = test::KwinStack::unavailable(); !skip_.empty()) return;
        if (std::string(TOVRIN_SPHINX_RECOGNIZER).empty()) {
            skip_ = "the test recogniser is not built (libpocketsphinx-dev is missing)";
            return;
        }
        if (!startMicrophoneAndRecognizer("kderoad", false)) return;
        stack_ = std::make_unique<test::KwinStack>();
        if (!stack_->ok()) {
            error_ = stack_->error();
            return;
        }
        if (!stack_->startPortals()) error_ = "the desktop portal did not start\n" + stack_->log("portal");
        xdisplay_ = stack_->xwaylandDisplay();
        if (xdisplay_.empty()) error_ = "KWin has no XWayland display";
    }
    std::string shortcuts() const { return readFile(stack_->home() + "/.config/kglobalshortcutsrc"); }

    // Whether the program's GlobalShortcuts session (named after its fixed token) is open.
    bool shortcutSessionOpen() {
        std::string tree;
        stack_->run({"gdbus", "introspect", "--session", "-d", "org.freedesktop.portal.Desktop", "-o",
                     "/org/freedesktop/portal/desktop/session", "-r"},
                    &tree);
        return tree.find("node /org/freedesktop/portal/desktop/session/") != std::string::npos &&
               tree.find("/tovrin {") != std::string::npos;
    }

    // The program with default settings (the on-device route) and its shortcut session open,
    // then `focusClass` focused again (a new user's first window takes the focus).
    void startProgram(const std::string& focusClass, const std::function<size_t()>& focusEvents) {
        const std::string home = stack_->home();
        std::error_code ec;
        for (const char* dir : {"/.config/Tovrin", "/.local/share/Wendaro", "/.local/state/Tovrin"})
            fs::remove_all(home + dir, ec);
        fs::create_directories(home + "/.config/Tovrin", ec);
        writeFile(home + "/.config/Tovrin/defaults.json", R"({"provider":"local"})");

        program_ = stack_->spawn({TOVRIN_PROGRAM},
                                 {"DISPLAY=" + xdisplay_, "PULSE_SERVER=" + pulse_->address(), "NO_AT_BRIDGE=1"},
                                 programLog());
        ASSERT_GT(program_, 0);
        titles_ = std::make_unique<TitleWatch>(xdisplay_, program_);
        ASSERT_TRUE(waitUntil([&] { return shortcutSessionOpen(); }, 30, 0.2))
            << "the program opened no GlobalShortcuts session\n" << readFile(programLog());
        ASSERT_TRUE(waitUntil(
            [&] {
                for (const auto& w : windowsOf(xdisplay_, program_))
                    if (w.viewable) return true;
                return false;
            },
            30, 0.05))
            << "the program showed no window on " << xdisplay_ << "\n" << readFile(programLog());
        // A new user's launch activates its first window once the keyring was read (a few
        // seconds without one): give the focus back until it stays.
        const double until = now() + 20;
        bool settled = false;
        while (!settled && now() < until) {
            stack_->activate(focusClass);
            const size_t mark = focusEvents();
            waitUntil([] { return false; }, 2.5);
            settled = focusEvents() == mark && stack_->activate(focusClass);
        }
        ASSERT_TRUE(settled) << "the focus never stayed on " << focusClass;
    }

    // Holds Menu (through fake input) while `sentence` plays into the microphone.
    void holdMenuAndSay(const std::string& sentence) {
        holdKeyAndSay(test::KwinStack::helpers() + "/kde_fakekey", kMenuKey, sentence);
    }
};

TEST_F(KdeRoadIT, HoldingMenuPastesTheSentenceIntoAGtkFieldThatNeverSeesThePressAndTheTextClipboardComesBack) {
    ASSERT_TRUE(stack_->startField()) << stack_->log("field");
    ASSERT_EQ(stack_->run({"wl-copy", "what the user had copied ✓"}), 0);
    const auto before = clipboard();
    ASSERT_GE(before.size(), 2u);
    startProgram("gtk_field.py", [&] { return stack_->fieldEvents().size(); });
    if (HasFatalFailure()) return;
    EXPECT_NE(shortcuts().find("push-to-talk=Menu,"), std::string::npos) << shortcuts();
    // KWin may read the desktop entry written at this first start only on the second look.
    waitUntil([] { return false; }, 2.5);

    const std::string sentence = "the quick brown fox jumps over the lazy dog";
    holdMenuAndSay(sentence);
    EXPECT_TRUE(waitUntil([&] { return stack_->fieldText() == sentence; }, 20, 0.05))
        << "field holds \"" << stack_->fieldText() << "\"\n" << stack_->fieldEvents();
    EXPECT_TRUE(titles_->waitFor("Inserted ✓", 3));
    const std::string events = stack_->fieldEvents();
    EXPECT_EQ(events.find("PRESS Menu"), std::string::npos) << events;
    EXPECT_TRUE(waitUntil([&] { return clipboard() == before; }, 3, 0.2)) << "the clipboard is the user's again";
}

TEST_F(KdeRoadIT, TheSecondStartFindsTheShortcutBoundAndPastesIntoAQtFieldAndAnImageComesBack) {
    ASSERT_NE(shortcuts().find("[tovrin]"), std::string::npos) << "the first start bound the shortcut";
    ASSERT_TRUE(stack_->startQtField()) << stack_->log("qtfield");
    const std::string png = pngImage();
    ASSERT_EQ(stack_->run({"wl-copy", "--type", "image/png"}, nullptr, png), 0);
    const auto before = clipboard();
    ASSERT_EQ(before.size(), 1u);
    ASSERT_EQ(before[0].second, png);
    startProgram("qt_probe", [&] { return stack_->log("qtfield").size(); });
    if (HasFatalFailure()) return;
    EXPECT_NE(shortcuts().find("push-to-talk=Menu,"), std::string::npos) << shortcuts();

    const std::string sentence = "please send the report to my manager tomorrow";
    holdMenuAndSay(sentence);
    EXPECT_TRUE(waitUntil([&] { return stack_->qtFieldText() == sentence; }, 20, 0.05))
        << "the Qt field holds \"" << stack_->qtFieldText() << "\"\n" << stack_->log("qtfield");
    EXPECT_TRUE(titles_->waitFor("Inserted ✓", 3));
    EXPECT_TRUE(waitUntil([&] { return clipboard() == before; }, 3, 0.2)) << "the image is on the clipboard again";
}

}  // namespace
}  // namespace e2e
