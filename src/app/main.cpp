#include "app/AppDelegate.h"
#include "cloud/CloudTranscriber.h"
#include "dictation/HotkeyMonitor.h"
#include "platform/AppcastUpdater.h"
#include "platform/ControlClient.h"
#include "platform/ControlLine.h"
#include "platform/loader/Runtime.h"
#include "ui/overlay/FloatingWidget.h"

#include <cstdlib>
#include <string_view>

namespace {
// Deployment configuration: where released versions are announced.
constexpr const char* kUpdateFeed = "https://tovrin.app/appcast.xml";

// The cloud speech-to-text client, on the providers' real hosts. The end-to-end tests point
// every provider at a fake on this machine through TOVRIN_TEST_CLOUD_BASE_URL; only a loopback
// address is taken, so no API key can be sent elsewhere through it.
std::unique_ptr<CloudTranscriber> cloudTranscriber() {
    const char* base = std::getenv("TOVRIN_TEST_CLOUD_BASE_URL");
    if (base && std::string_view(base).rfind("http://127.0.0.1:", 0) == 0) return CloudTranscriber::withBaseURL(base);
    return std::make_unique<CloudTranscriber>();
}
}  // namespace

int main(int argc, char** argv) {
    // `tovrin --ptt-down` and its kin, run by a desktop's key binding on every press: one line to
    // the running program, before anything heavy (no application object, no store).
    if (argc >= 2)
        if (const auto command = platform::ControlLine::fromOption(argv[1]))
            return platform::ControlClient::run(*command);

    platform::Runtime runtime(argc, argv);
    if (runtime.handOverToRunningInstance()) return 0;
    AppDelegate::Parts parts;
    parts.controller = std::make_unique<DictationController>(std::make_unique<FloatingWidget>(), cloudTranscriber());
    parts.updater = std::make_unique<platform::AppcastUpdater>(kUpdateFeed);
    AppDelegate delegate(std::move(parts));
    runtime.onReopen = [&delegate] { delegate.applicationShouldHandleReopen(); };
    runtime.onControl = [&delegate](platform::ControlCommand command) { delegate.handleControl(command); };
    runtime.onTerminate = [&delegate] { delegate.applicationWillTerminate(); };
    runtime.onTerminationRequested = [&delegate](std::function<void()> quit) {
        delegate.finishDictationThenQuit(std::move(quit));
    };
    runtime.whenLaunched([&delegate] { delegate.applicationDidFinishLaunching(); });
    return runtime.exec();
}
