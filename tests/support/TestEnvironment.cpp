#include "support/TestEnvironment.h"

#include "state/AppSettings.h"
#include "platform/Http.h"
#include "platform/Paths.h"

namespace test {

namespace {
std::unique_ptr<Fakes> g_fakes;
}

Fakes& fakes() {
    if (!g_fakes) reset();
    return *g_fakes;
}

void reset() {
    auto next = std::make_unique<Fakes>();
    platform::Scheduler::setMain(&next->scheduler);
    platform::Defaults::setShared(&next->defaults);
    platform::Keychain::setShared(&next->keychain);
    platform::Sounds::setShared(&next->sounds);
    platform::Workspace::setShared(&next->workspace);
    platform::Accessibility::setShared(&next->accessibility);
    platform::Pasteboard::setGeneral(&next->pasteboard);
    next->keySynth.pasteboard = &next->pasteboard;
    platform::KeySynth::setShared(&next->keySynth);
    platform::App::setShared(&next->app);
    platform::LoginItem::setShared(&next->loginItem);
    g_fakes = std::move(next);
    platform::Http::setTimeoutLimit(0);  // tests that need short time-outs set them
    platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);  // the build tree's resources
    AppSettings::shared().reload();
}

}  // namespace test
