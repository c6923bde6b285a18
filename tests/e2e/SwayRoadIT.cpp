// The whole road on a headless sway (wlroots): the program started as a new user of the sway
// session, its UI on XWayland; the push-to-talk key is sway's binding of Menu, which runs
// `tovrin --ptt-down` on the press and `tovrin --ptt-up` on the release; the Menu key is pressed
// through a virtual keyboard while espeak-ng speech plays into the virtual microphone. The
// sentence lands in a native GTK field and in a foot terminal, the field never sees Menu, and the
// user's clipboard comes back byte for byte. The speech goes to the test recogniser on the fixed
// port, so the sentence pasted is the sentence spoken.
#include "e2e/Road.h"
#include "e2e/WaylandRoadFixture.h"
#include "support/PulseServer.h"
#include "support/SwayStack.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include <filesystem>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

// The sway lines the program asks its users to add, for the Menu key.
std::string menuBindings() {
    return std::string("bindsym --no-repeat Menu exec ") + TOVRIN_PROGRAM + " --ptt-down\n" +
           "bindsym --release Menu exec " + TOVRIN_PROGRAM + " --ptt-up\n";
}

constexpr int kNobody = 65534;
constexpr const char* kMenuKey = "127";  // KEY_COMPOSE, Menu in the default layout

// Whether this build's program takes the key commands: with no instance running, the command
// says so and exits 1 without starting anything. (A program without them tries to start and
// finds no display to start on.)
bool programTakesKeyCommands() {
    char tmpl[] = "/tmp/tovrin-cmdprobe-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    const std::string dir = tmpl, log = dir + "/out";
    const pid_t pid = launch({TOVRIN_PROGRAM, "--ptt-down"},
                             {"HOME=" + dir, "XDG_RUNTIME_DIR=" + dir, "XDG_DATA_HOME=" + dir,
                              "XDG_CONFIG_HOME=" + dir, "PATH=/usr/bin:/bin"},
                             log);
    int status = 0;
    const bool ended = waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5);
    if (!ended) stopGroup(pid);
    const bool takes = ended && WIFEXITED(status) && WEXITSTATUS(status) == 1 &&
                       readFile(log).find("not running") != std::string::npos;
    std::error_code ec;
    fs::remove_all(dir, ec);
    return takes;
}

std::string pngImage() {
    QImage image(9, 4, QImage::Format_ARGB32);
    image.fill(qRgba(200, 40, 90, 200));
    image.setPixel(1, 1, qRgba(0, 0, 255, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png.toStdString();
}

void giveToNobody(const std::string& path) {
    if (chown(path.c_str(), kNobody, kNobody) != 0) {
    }
}

class SwayRoadIT : public WaylandRoadFixture<test::SwayStack> {
protected:
    static void SetUpTestSuite() {
        if (skip_ = test::SwayStack::unavailable(); !skip_.empty()) return;
        if (std::string(TOVRIN_SPHINX_RECOGNIZER).empty()) {
            skip_ = "the test recogniser is not built (libpocketsphinx-dev is missing)";
            return;
        }
        if (!programTakesKeyCommands()) {
            skip_ = "this build of the program has no key commands (tovrin --ptt-down) for sway's binding";
            return;
        }
        // The program runs as the sway session's user, and so does the recogniser.
        if (!startMicrophoneAndRecognizer("swayroad", true)) return;
        stack_ = std::make_unique<test::SwayStack>();
        if (!stack_->ok()) {
            error_ = stack_->error();
            return;
        }
        if (!stack_->addConfig(menuBindings())) error_ = "sway did not take the Menu bindings";
        xdisplay_ = stack_->xwaylandDisplay();
        if (xdisplay_.empty()) error_ = "sway has no XWayland display";
    }

    // The program as a new user of the session with default settings (the on-device route),
    // then `focusAppId` focused again (a new user's first window takes the focus).
    void startProgram(const std::string& focusAppId) {
        const std::string home = stack_->folder() + "/home";
        std::error_code ec;
        for (const char* dir : {"/.config/Tovrin", "/.local/share/Wendaro", "/.local/state/Tovrin"})
            fs::remove_all(home + dir, ec);
        const std::string config = home + "/.config/Tovrin";
        fs::create_directories(config, ec);
        writeFile(config + "/defaults.json", R"({"provider":"local"})");
        for (const auto& p : {home + "/.config", config, config + "/defaults.json"}) giveToNobody(p);

        program_ = stack_->spawn({TOVRIN_PROGRAM},
                                 {"DISPLAY=" + xdisplay_, "PULSE_SERVER=" + pulse_->address(), "NO_AT_BRIDGE=1"},
                                 programLog());
        ASSERT_GT(program_, 0);
        titles_ = std::make_unique<TitleWatch>(xdisplay_, program_);
        ASSERT_TRUE(waitUntil(
            [&] {
                for (const auto& w : windowsOf(xdisplay_, program_))
                    if (w.viewable) return true;
                return false;
            },
            30, 0.05))
            << "the program showed no window\n" << readFile(programLog());
        // A new user's launch shows its first window and activates it once the keyring was read
        // (a few seconds without a keyring): give the focus back until it stays.
        const double until = now() + 20;
        bool settled = false;
        while (!settled && now() < until) {
            if (stack_->focusedAppId() != focusAppId) stack_->swaymsg("[app_id=\"" + focusAppId + "\"] focus");
            const size_t mark = stack_->fieldEvents().size();
            waitUntil([] { return false; }, 2.0);
            settled = stack_->focusedAppId() == focusAppId && stack_->fieldEvents().size() == mark;
        }
        ASSERT_TRUE(settled) << "the focus never stayed on " << focusAppId;
    }

    // Holds Menu (through the virtual keyboard) while `sentence` plays into the microphone. The
    // time from the press to the recording is measured by bench/wayland/sway-key-bench.
    void holdMenuAndSay(const std::string& sentence) {
        holdKeyAndSay("/tmp/tovrin-wlstack-build/vk_keys", kMenuKey, sentence);
    }
};

TEST_F(SwayRoadIT, HoldingMenuTypesTheSentenceIntoAGtkFieldThatNeverSeesMenuAndTheTextClipboardComesBack) {
    ASSERT_TRUE(stack_->startField());
    ASSERT_EQ(stack_->run({"wl-copy", "what the user had copied ✓"}), 0);
    const auto before = clipboard();
    ASSERT_GE(before.size(), 2u);
    startProgram("gtk_field.py");
    if (HasFatalFailure()) return;

    const std::string sentence = "the quick brown fox jumps over the lazy dog";
    holdMenuAndSay(sentence);
    EXPECT_TRUE(waitUntil([&] { return stack_->fieldText() == sentence; }, 20, 0.05))
        << "field holds \"" << stack_->fieldText() << "\"\n" << stack_->fieldEvents();
    EXPECT_TRUE(titles_->waitFor("Inserted ✓", 3));
    const std::string events = stack_->fieldEvents();
    EXPECT_EQ(events.find("Menu"), std::string::npos) << events;
    // The test's own virtual keyboard joining the seat makes the field leave and enter again just
    // before the press; from the widget's showing on, nothing takes the focus.
    std::stringstream lines(events);
    for (std::string line; std::getline(lines, line);)
        if (line.find("FOCUS-OUT") != std::string::npos)
            EXPECT_LT(std::atof(line.c_str()), recordingAt_ - 0.05) << "the field lost the focus\n" << events;
    EXPECT_TRUE(waitUntil([&] { return clipboard() == before; }, 3, 0.2)) << "the clipboard is the user's again";
}

TEST_F(SwayRoadIT, HoldingMenuTypesTheSentenceIntoFootAndAnImageOnTheClipboardComesBack) {
    const std::string file = stack_->work() + "/foot.txt";
    ASSERT_TRUE(stack_->startFootCat(file));
    const std::string png = pngImage();
    ASSERT_EQ(stack_->run({"wl-copy", "--type", "image/png"}, nullptr, png), 0);
    const auto before = clipboard();
    ASSERT_EQ(before.size(), 1u);
    ASSERT_EQ(before[0].second, png);
    startProgram("foot");
    if (HasFatalFailure()) return;

    const std::string sentence = "please send the report to my manager tomorrow";
    holdMenuAndSay(sentence);
    EXPECT_TRUE(waitUntil([&] { return readFile(file) == sentence; }, 20, 0.05))
        << "foot's cat wrote \"" << readFile(file) << "\"";
    EXPECT_TRUE(waitUntil([&] { return clipboard() == before; }, 3, 0.2)) << "the image is on the clipboard again";
}

}  // namespace
}  // namespace e2e
