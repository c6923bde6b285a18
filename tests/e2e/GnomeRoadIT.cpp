// The whole road on a headless GNOME (mutter with its XWayland, the desktop portal with GNOME's
// backend): the program started as a new user of the session, with Qt's Wayland plugin installed,
// runs on XWayland; it asks for the RemoteDesktop portal's keyboard at start, and the test answers
// the desktop's consent dialog. Recording is driven by the command line (`tovrin --ptt-down`,
// `--ptt-up`), as a desktop shortcut would; the speech server on the fixed port is a stand-in that
// answers with a set text. With the consent given, the text lands in a native GTK field (which
// keeps the focus), in an XWayland GTK field and in an XWayland terminal, and the user's clipboard
// comes back byte for byte; with it refused, the text stays on the clipboard and the widget says so.
#include "e2e/Road.h"
#include "support/FakeSpeechServer.h"
#include "support/MutterStack.h"
#include "support/PulseServer.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <QBuffer>
#include <QImage>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <net/if.h>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInserted = "Inserted ✓";
constexpr const char* kCopied = "Copied — press Ctrl+V to paste";

std::string pngImage() {
    QImage image(6, 9, QImage::Format_ARGB32);
    image.fill(qRgba(30, 90, 200, 180));
    image.setPixel(2, 5, qRgba(255, 255, 0, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png.toStdString();
}

// The time (seconds since 1970) of the first line of a field's event log that holds `what`.
std::optional<double> firstEventAt(const std::string& events, const std::string& what) {
    std::stringstream lines(events);
    for (std::string line; std::getline(lines, line);)
        if (line.find(what) != std::string::npos) return std::atof(line.c_str());
    return std::nullopt;
}

class GnomeRoadIT : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (skip_ = test::MutterStack::unavailable(); !skip_.empty()) return;
        if (!fs::exists("/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so")) {
            skip_ = "qt6-wayland is not installed";
            return;
        }
        // The speech server's port is fixed: a network of our own keeps other runs on this machine
        // from it, and the desktop started from here (all of it local sockets) shares it.
        if (::unshare(CLONE_NEWNET) == 0) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            ifreq loopback{};
            std::strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
            if (fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &loopback) == 0) {
                loopback.ifr_flags |= IFF_UP;
                ::ioctl(fd, SIOCSIFFLAGS, &loopback);
            }
            if (fd >= 0) ::close(fd);
        }
        pulse_ = std::make_unique<test::PulseServer>();
        if (!pulse_->start()) {
            error_ = "PulseAudio: " + pulse_->error();
            return;
        }
        server_ = std::make_unique<test::FakeSpeechServer>(8756);
        stack_ = std::make_unique<test::MutterStack>();
        if (!stack_->ok()) {
            error_ = stack_->error();
            return;
        }
        if (!stack_->startPortal()) {
            error_ = "the desktop portal did not start\n" + stack_->log("portal") + stack_->log("portal-gnome");
            return;
        }
        // The program's windows are watched on mutter's XWayland, which lets in its cookie's holders.
        setenv("XAUTHORITY", stack_->variable("XAUTHORITY").c_str(), 1);
    }
    static void TearDownTestSuite() {
        stack_.reset();
        server_.reset();
        pulse_.reset();
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(error_.empty()) << error_;
    }
    void TearDown() override {
        if (HasFailure() && program_ > 0) {
            std::fprintf(stderr, "program log:\n%s\n", readFile(programLog()).c_str());
            std::fprintf(stderr, "field events:\n%s\n", stack_->fieldEvents().c_str());
            if (titles_)
                for (const auto& t : titles_->seen()) std::fprintf(stderr, "widget title: %s\n", t.c_str());
        }
        titles_.reset();
        if (program_ > 0) stack_->stop(program_);
        program_ = -1;
        for (pid_t pid : helpers_) stack_->stop(pid);
        helpers_.clear();
    }

    std::string programLog() const { return stack_->work() + "/program.log"; }
    std::string display() const { return stack_->variable("DISPLAY"); }

    // The program with default settings for a user who has granted the paste before (so the dialog
    // comes at start, as it does at every start under portal 1.16), its consent dialog answered.
    void startProgram(bool allowRemoteKeys) {
        const std::string home = stack_->variable("HOME");
        std::error_code ec;
        for (const char* dir : {"/.config/Tovrin", "/.local/share/Wendaro", "/.local/state/Tovrin"})
            fs::remove_all(home + dir, ec);
        fs::create_directories(home + "/.config/Tovrin", ec);
        writeFile(home + "/.config/Tovrin/defaults.json", R"({"provider":"local","remoteDesktopGranted":true})");

        program_ = stack_->spawn({TOVRIN_PROGRAM}, {"PULSE_SERVER=" + pulse_->address(), "NO_AT_BRIDGE=1"},
                                 programLog());
        ASSERT_GT(program_, 0);
        titles_ = std::make_unique<TitleWatch>(display(), program_);
        ASSERT_TRUE(waitUntil(
            [&] {
                for (const auto& w : windowsOf(display(), program_))
                    if (w.viewable) return true;
                return false;
            },
            30, 0.05))
            << "the program showed no window\n" << readFile(programLog());
        ASSERT_TRUE(stack_->answerConsent(allowRemoteKeys)) << "no consent dialog\n" << stack_->log("portal-gnome");
    }

    // Puts the focus on a fresh GTK field (a new window takes it) until it stays there: the
    // program's first window is activated once its launch has run.
    void focusNewField(bool onXWayland = false) {
        const auto focusChanges = [&] {
            std::string out;
            std::stringstream lines(stack_->fieldEvents());
            for (std::string line; std::getline(lines, line);)
                if (line.find("FOCUS") != std::string::npos) out += line + "\n";
            return out;
        };
        const double until = now() + 25;
        bool settled = false;
        while (!settled && now() < until) {
            if (!stack_->startField(onXWayland)) continue;
            const std::string mark = focusChanges();
            waitUntil([] { return false; }, 2.0);
            settled = focusChanges() == mark;
        }
        ASSERT_TRUE(settled) << "the focus never stayed on the field\n" << stack_->fieldEvents();
    }

    // The user copied `bytes` as `type` in a native program (a Wayland client). Without the
    // data-control protocol, wl-copy sets the clipboard from a window of its own, which needs the
    // focus for a moment: another window that takes it then may leave the copy undone.
    void userCopies(const std::string& type, const std::string& bytes) {
        const std::string file = stack_->work() + "/copied";
        writeFile(file, bytes);
        bool copied = false;
        for (int attempt = 0; attempt < 3 && !copied; ++attempt) {
            if (attempt > 0) stack_->stop(helpers_.back()), helpers_.pop_back();
            helpers_.push_back(stack_->spawn({"sh", "-c", "exec wl-copy --foreground --type '" + type + "' < " + file}));
            copied = waitUntil([&] { return !clipboard().empty() && clipboard().front().second == bytes; }, 5, 0.2);
        }
        ASSERT_TRUE(copied) << "wl-copy did not take the clipboard";
    }

    // Every type the clipboard offers with its bytes, as a native program reads it.
    std::vector<std::pair<std::string, std::string>> clipboard() {
        std::vector<std::pair<std::string, std::string>> out;
        std::string list;
        stack_->run({"wl-paste", "--list-types"}, &list, {}, 5);
        std::stringstream types(list);
        for (std::string type; std::getline(types, type);) {
            if (type.empty()) continue;
            std::string bytes;
            stack_->run({"wl-paste", "--no-newline", "--type", type}, &bytes, {}, 5);
            out.emplace_back(type, bytes);
        }
        return out;
    }
    // Whether every type the clipboard offered in `before` is offered again with the same bytes.
    // The 8-bit text types of X11 (STRING, TEXT, and text/plain, which GNOME serves from STRING)
    // come back in Latin-1, as X11 has them, where wl-copy had served its UTF-8 bytes: those
    // need only be there.
    bool holdsAgain(const std::vector<std::pair<std::string, std::string>>& before) {
        lastSeen_ = clipboard();
        return std::all_of(before.begin(), before.end(), [&](const auto& item) {
            const bool latin1 = item.first == "STRING" || item.first == "TEXT" || item.first == "text/plain";
            return std::find_if(lastSeen_.begin(), lastSeen_.end(), [&](const auto& seen) {
                       return seen.first == item.first && (latin1 || seen.second == item.second);
                   }) != lastSeen_.end();
        });
    }
    static std::string describe(const std::vector<std::pair<std::string, std::string>>& items) {
        std::string out;
        for (const auto& [type, bytes] : items) out += type + ": " + std::to_string(bytes.size()) + " bytes\n";
        return out;
    }
    std::vector<std::pair<std::string, std::string>> lastSeen_;

    // Dictates `text`: push-to-talk down and up through the command line, as a desktop shortcut
    // runs it. pttUpAt_: when the key went up (seconds since 1970).
    void dictate(const std::string& text) {
        server_->setReply(200, nlohmann::json{{"text", text}}.dump());
        std::string out;
        ASSERT_EQ(stack_->run({TOVRIN_PROGRAM, "--ptt-down"}, &out), 0) << out;
        ASSERT_TRUE(titles_->waitFor("Recording", 5)) << "the widget never showed the recording";
        recordingAt_ = titles_->firstSeenAt("Recording").value_or(0);
        waitUntil([] { return false; }, 0.8);
        pttUpAt_ = wallNow();
        ASSERT_EQ(stack_->run({TOVRIN_PROGRAM, "--ptt-up"}, &out), 0) << out;
    }

    static inline std::string skip_, error_;
    static inline std::unique_ptr<test::PulseServer> pulse_;
    static inline std::unique_ptr<test::FakeSpeechServer> server_;
    static inline std::unique_ptr<test::MutterStack> stack_;
    pid_t program_ = -1;
    std::vector<pid_t> helpers_;
    double recordingAt_ = 0, pttUpAt_ = 0;
    std::unique_ptr<TitleWatch> titles_;
};

TEST_F(GnomeRoadIT, WithConsentTheTextLandsInANativeFieldThatKeepsTheFocusAndTheTextClipboardComesBack) {
    userCopies("text/plain;charset=utf-8", "what the user had copied ✓");
    if (HasFatalFailure()) return;
    const auto before = clipboard();
    startProgram(true);
    if (HasFatalFailure()) return;
    // With Qt's Wayland plugin at hand, the program still runs on XWayland.
    EXPECT_EQ(readFile("/proc/" + std::to_string(program_) + "/maps").find("libqwayland"), std::string::npos);
    EXPECT_NE(readFile("/proc/" + std::to_string(program_) + "/maps").find("libqxcb.so"), std::string::npos);
    // Portal 1.16 offers GlobalShortcuts here (KDE's backend is installed) but cannot bind it on
    // GNOME: the program is told no and takes the key from its other sources.
    const std::string diagnostics = stack_->variable("HOME") + "/.local/state/Tovrin/tovrin.log";
    EXPECT_TRUE(waitUntil([&] { return readFile(diagnostics).find("GlobalShortcuts portal") != std::string::npos; },
                          20, 0.2))
        << readFile(diagnostics);

    focusNewField();
    if (HasFatalFailure()) return;

    const std::string sentence = "the quick brown fox jumps over the lazy dog";
    dictate(sentence);
    EXPECT_TRUE(waitUntil([&] { return stack_->fieldText() == sentence; }, 15, 0.05))
        << "field holds \"" << stack_->fieldText() << "\"\n" << stack_->fieldEvents();
    EXPECT_TRUE(titles_->waitFor(kInserted, 3));
    EXPECT_FALSE(titles_->saw(kCopied));
    const std::string events = stack_->fieldEvents();
    EXPECT_EQ(events.find("FOCUS-OUT"), std::string::npos) << "the field lost the focus\n" << events;
    EXPECT_TRUE(waitUntil([&] { return holdsAgain(before); }, 5, 0.2)) << "the clipboard is the user's again\nbefore:\n" << describe(before) << "after:\n" << describe(lastSeen_);
    EXPECT_EQ(stack_->fieldText(), sentence) << "pasted once";

    // The field's log times the chord's keys as they reach it: sent one after the other, each once
    // the portal handled the one before.
    std::optional<double> controlAt, releasedAt;
    std::stringstream lines(events);
    for (std::string line; std::getline(lines, line);) {
        if (!controlAt && line.find("PRESS Control_L") != std::string::npos) controlAt = std::atof(line.c_str());
        if (controlAt && !releasedAt && line.find("RELEASE Control_L") != std::string::npos)
            releasedAt = std::atof(line.c_str());
    }
    const auto landed = firstEventAt(events, "TEXT '" + sentence);
    if (controlAt && releasedAt && landed)
        std::printf("GNOME: the chord's four keys reached the field over %.0f ms; key up to text in the field %.0f ms\n",
                    (*releasedAt - *controlAt) * 1000, (*landed - pttUpAt_) * 1000);
}

TEST_F(GnomeRoadIT, WithConsentTheTextLandsInAnXWaylandFieldAndAnImageOnTheClipboardComesBack) {
    const std::string png = pngImage();
    userCopies("image/png", png);
    if (HasFatalFailure()) return;
    const auto before = clipboard();
    ASSERT_EQ(before.size(), 1u);
    startProgram(true);
    if (HasFatalFailure()) return;
    focusNewField(true);
    if (HasFatalFailure()) return;

    const std::string sentence = "please send the report to my manager tomorrow";
    dictate(sentence);
    EXPECT_TRUE(waitUntil([&] { return stack_->fieldText() == sentence; }, 15, 0.05))
        << "the XWayland field holds \"" << stack_->fieldText() << "\"\n" << stack_->fieldEvents();
    EXPECT_TRUE(titles_->waitFor(kInserted, 3));
    EXPECT_TRUE(waitUntil([&] { return holdsAgain(before); }, 5, 0.2)) << "the image is on the clipboard again\nbefore:\n" << describe(before) << "after:\n" << describe(lastSeen_);
}

// Wayland tells which window has the focus only for XWayland windows: an X11 terminal there gets
// Control+Shift+V, and the text's line break no Return.
TEST_F(GnomeRoadIT, WithConsentAnXWaylandTerminalGetsTheTextOnOneLine) {
    ASSERT_EQ(access("/usr/bin/lxterminal", X_OK), 0) << "lxterminal is not installed";
    startProgram(true);
    if (HasFatalFailure()) return;
    const std::string file = stack_->work() + "/terminal.txt";
    std::error_code ec;
    fs::remove(file, ec);
    helpers_.push_back(stack_->spawn({"lxterminal", "--command=sh -c 'stty -icanon; cat > " + file + "'"},
                                     {"GDK_BACKEND=x11", "NO_AT_BRIDGE=1"}, stack_->work() + "/lxterminal.log"));
    std::string terminal;
    ASSERT_TRUE(waitUntil(
        [&] {
            stack_->run({"xdotool", "search", "--onlyvisible", "--class", "lxterminal"}, &terminal, {}, 3);
            terminal = terminal.substr(0, terminal.find('\n'));
            return !terminal.empty() && fs::exists(file);
        },
        20, 0.2))
        << stack_->log("lxterminal");
    // Until the program's own first window has been activated, it may take the focus back.
    const auto active = [&] {
        std::string id;
        stack_->run({"xdotool", "getactivewindow"}, &id, {}, 3);
        return id.substr(0, id.find('\n')) == terminal;
    };
    const double until = now() + 20;
    bool settled = false;
    while (!settled && now() < until) {
        if (!active()) stack_->run({"xdotool", "windowactivate", terminal});
        waitUntil([] { return false; }, 2.0);
        settled = active();
    }
    ASSERT_TRUE(settled) << "the terminal never kept the focus";

    dictate("echo one\necho two");
    EXPECT_TRUE(waitUntil([&] { return readFile(file) == "echo one echo two"; }, 15, 0.05))
        << "the terminal's cat wrote \"" << readFile(file) << "\" (a ^V there is Control+V without Shift)";
    EXPECT_TRUE(titles_->waitFor(kInserted, 3));
}

TEST_F(GnomeRoadIT, WithConsentRefusedTheTextStaysOnTheClipboardAndTheWidgetSaysSo) {
    startProgram(false);
    if (HasFatalFailure()) return;
    focusNewField();
    if (HasFatalFailure()) return;

    const std::string sentence = "meet me at the station at noon";
    dictate(sentence);
    EXPECT_TRUE(titles_->waitFor(kCopied, 15));
    EXPECT_FALSE(titles_->saw(kInserted));
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto now = clipboard();
            return !now.empty() && now.front().second == sentence;
        },
        5, 0.2))
        << "the text is on the clipboard";
    EXPECT_EQ(stack_->fieldText(), "");
}

}  // namespace
}  // namespace e2e
