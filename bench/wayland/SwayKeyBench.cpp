// Key press to recording start through a compositor binding, on a headless sway: the Menu key
// is bound to `tovrin --ptt-down` (press) and `tovrin --ptt-up` (release), the program runs as a
// new user of the session with its UI on XWayland, and a virtual keyboard types "a" into a
// native GTK field and then holds Menu. The press is the time the field logged "a" (the next key
// follows within a millisecond); the binding's command logs when sway ran it; the recording's
// start is when the widget first showed "Recording". Prints each run and the medians.
#include "e2e/Road.h"
#include "support/PulseServer.h"
#include "support/SwayStack.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace e2e;

namespace {

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The time of the last line of `log` that holds `what` ("<seconds> ..." lines), 0 if none.
double lastTime(const std::string& log, const std::string& what) {
    std::stringstream lines(log);
    double found = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.find(what) != std::string::npos) found = std::atof(line.c_str());
    return found;
}

bool takesKeyCommands() {
    char tmpl[] = "/tmp/tovrin-cmdprobe-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    const std::string dir = tmpl;
    const pid_t pid = launch({TOVRIN_PROGRAM, "--ptt-down"},
                             {"HOME=" + dir, "XDG_RUNTIME_DIR=" + dir, "XDG_DATA_HOME=" + dir,
                              "XDG_CONFIG_HOME=" + dir, "PATH=/usr/bin:/bin"},
                             dir + "/out");
    int status = 0;
    const bool ended = waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5);
    if (!ended) stopGroup(pid);
    const bool takes = ended && WIFEXITED(status) && WEXITSTATUS(status) == 1 &&
                       readFile(dir + "/out").find("not running") != std::string::npos;
    std::error_code ec;
    fs::remove_all(dir, ec);
    return takes;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    if (const std::string why = test::SwayStack::unavailable(); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    if (!takesKeyCommands()) {
        std::fprintf(stderr, "this build of the program has no key commands (tovrin --ptt-down)\n");
        return 1;
    }
    test::PulseServer pulse;
    if (!pulse.start()) {
        std::fprintf(stderr, "PulseAudio: %s\n", pulse.error().c_str());
        return 1;
    }
    // The program runs as the sway session's user: let it reach the microphone's socket.
    for (fs::path p = pulse.address().substr(5); p.has_parent_path() && p != "/tmp"; p = p.parent_path()) {
        std::error_code ec;
        fs::permissions(p, fs::perms::others_exec | (fs::is_socket(p) ? fs::perms::others_all : fs::perms::none),
                        fs::perm_options::add, ec);
    }
    test::SwayStack stack;
    if (!stack.ok()) {
        std::fprintf(stderr, "%s\n", stack.error().c_str());
        return 1;
    }
    const std::string execLog = stack.work() + "/exec.log";
    if (!stack.addConfig("bindsym --no-repeat Menu exec sh -c 'echo $(date +%s.%N) >> " + execLog + "; exec " +
                         TOVRIN_PROGRAM + " --ptt-down'\nbindsym --release Menu exec " + TOVRIN_PROGRAM +
                         " --ptt-up")) {
        std::fprintf(stderr, "sway did not take the bindings\n");
        return 1;
    }
    const std::string xdisplay = stack.xwaylandDisplay();
    if (xdisplay.empty() || !stack.startField()) {
        std::fprintf(stderr, "no XWayland display or no GTK field\n");
        return 1;
    }

    const std::string home = stack.folder() + "/home", config = home + "/.config/Tovrin";
    fs::create_directories(config);
    writeFile(config + "/defaults.json", R"({"provider":"local"})");
    for (const auto& p : {home + "/.config", config, config + "/defaults.json"})
        if (chown(p.c_str(), 65534, 65534) != 0) std::fprintf(stderr, "chown %s failed\n", p.c_str());
    const pid_t program = stack.spawn({TOVRIN_PROGRAM}, {"DISPLAY=" + xdisplay, "PULSE_SERVER=" + pulse.address(),
                                                         "NO_AT_BRIDGE=1"},
                                      stack.work() + "/program.log");
    TitleWatch titles(xdisplay, program);
    // The launch's first window takes the focus for a while: give it back until it stays.
    bool settled = false;
    for (int i = 0; i < 10 && !settled; ++i) {
        if (stack.focusedAppId() != "gtk_field.py") stack.swaymsg("[app_id=\"gtk_field.py\"] focus");
        const size_t mark = stack.fieldEvents().size();
        waitUntil([] { return false; }, 2.0);
        settled = stack.focusedAppId() == "gtk_field.py" && stack.fieldEvents().size() == mark;
    }
    if (!settled) {
        std::fprintf(stderr, "the focus never stayed on the field\n%s\n", readFile(stack.work() + "/program.log").c_str());
        return 1;
    }

    std::printf("Menu press -> sway runs the binding -> \"Recording\" shown; %d runs\n", runs);
    std::vector<double> toExec, toRecording, total;
    for (int i = 0; i < runs; ++i) {
        titles.clear();
        // "a" marks the press time in the field; Menu follows at once and is held 1.2 s (a hold,
        // not a tap: the release ends the recording).
        stack.keys({"30:1", "30:0", "127:1", "sleep:1200", "127:0"});
        const double pressed = lastTime(stack.fieldEvents(), "PRESS a ");
        const double ran = lastTime(readFile(execLog), ".");
        const auto shown = titles.firstSeenAt("Recording");
        if (!pressed || !ran || !shown) {
            std::printf("run %d: press %.3f, binding %.3f, recording %s\n", i + 1, pressed, ran, shown ? "seen" : "not seen");
            continue;
        }
        toExec.push_back((ran - pressed) * 1000);
        toRecording.push_back((*shown - ran) * 1000);
        total.push_back((*shown - pressed) * 1000);
        std::printf("run %2d: press->binding %6.1f ms, binding->Recording %6.1f ms, press->Recording %6.1f ms\n", i + 1,
                    toExec.back(), toRecording.back(), total.back());
        waitUntil([] { return false; }, 3.0);  // the silent recording is dropped and the widget goes
    }
    std::printf("median: press->binding %.1f ms, binding->Recording %.1f ms, press->Recording %.1f ms (%zu runs)\n",
                median(toExec), median(toRecording), median(total), total.size());
    stack.stop(program);
    return total.empty() ? 1 : 0;
}
