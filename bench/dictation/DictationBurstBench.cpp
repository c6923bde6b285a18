// A burst of back-to-back dictations by a simulated user, through the real dictation controller
// with stand-ins for the microphone, the transcription (which takes a fixed time) and the paste,
// on a simulated clock. The user holds the key while speaking a phrase (1.5 to 5 s), lets go,
// pauses (0.3 to 1.5 s, as people do between sentences) and presses for the next one; the same
// seeded phrases and pauses for every row. A press that lands while the previous dictation is
// still processing starts nothing (the rule stays). What follows depends on what the user is
// shown:
//   silent  nothing changes on screen, so the user speaks the phrase anyway: it is lost.
//   sign    the widget says "Still transcribing…" at once (with "Basso"); the user stops within
//           a reaction time of 0.3 s, waits for the result and says the phrase again.
// Printed per processing time: presses that landed during processing, dictations lost, and how
// long the burst took. The figures are printed, never checked.
//
// usage: dictation-burst-bench [DICTATIONS]   (default 20)
#include "state/AppSettings.h"
#include "state/Database.h"
#include "dictation/DictationController.h"
#include "support/DictationFakes.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace {

using State = DictationController::State;

constexpr double kReaction = 0.3;

struct Outcome {
    int pressesDuringProcessing = 0;
    int lost = 0;
    int pasted = 0;
    double seconds = 0;
};

struct Utterance {
    double speak;
    double pause;
};

Outcome runBurst(const std::vector<Utterance>& burst, double processing, bool heedsSign, Database& history) {
    test::reset();
    AppSettings::shared().setSounds(true);
    auto& clock = test::fakes().scheduler;
    DictationController::Parts parts;
    parts.history = &history;
    auto recorder = std::make_unique<test::FakeRecorder>();
    auto transcriber = std::make_unique<test::FakeTranscriber>();
    auto injector = std::make_unique<test::FakeInjector>();
    auto widget = std::make_unique<test::FakeWidget>();
    transcriber->delay = processing;
    auto* injected = injector.get();
    auto* shown = widget.get();
    test::FakeRecorder* mic = recorder.get();
    parts.recorder = std::move(recorder);
    parts.transcriber = std::move(transcriber);
    parts.injector = std::move(injector);
    parts.widget = std::move(widget);
    parts.enhancer = std::make_unique<test::FakeEnhancer>();
    DictationController controller(std::move(parts));

    Outcome out;
    const double start = clock.now();
    for (const Utterance& u : burst) {
        for (;;) {
            const std::size_t shownBefore = shown->events.size();
            const bool busy = controller.state() == State::processing;
            controller.pushToTalkDown();
            if (!busy) {
                mic->wavBytes = 44 + static_cast<std::size_t>(u.speak * 32000);
                clock.advance(u.speak);
                controller.pushToTalkUp(u.speak);
                clock.advance(u.pause);
                break;
            }
            ++out.pressesDuringProcessing;
            const bool signShown = shown->events.size() > shownBefore && shown->last() == "still transcribing";
            if (!heedsSign || !signShown) {
                // Spoken into a microphone that is not listening.
                clock.advance(u.speak);
                controller.pushToTalkUp(u.speak);
                ++out.lost;
                clock.advance(u.pause);
                break;
            }
            // Stops, waits for the result, and says it again.
            clock.advance(kReaction);
            controller.pushToTalkUp(kReaction);
            while (controller.state() != State::idle) clock.advance(0.05);
            clock.advance(u.pause);
        }
    }
    while (controller.state() != State::idle) clock.advance(0.05);
    out.seconds = clock.now() - start;
    out.pasted = static_cast<int>(injected->pasted.size());
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir folder;
    Database history(folder.path().toStdString());

    std::mt19937 random(20261209);
    std::uniform_real_distribution<double> speak(1.5, 5.0), pause(0.3, 1.5);
    std::vector<Utterance> burst;
    for (int i = 0; i < count; ++i) burst.push_back({speak(random), pause(random)});

    std::printf("%d dictations; phrases 1.5-5 s, pauses 0.3-1.5 s; reaction to the sign %.1f s\n", count, kReaction);
    std::printf("%-12s | %-29s | %-29s\n", "processing", "silent: in-processing lost  s", "sign: in-processing lost  s");
    for (double processing : {0.5, 1.0, 1.5, 2.0, 3.0}) {
        const Outcome silent = runBurst(burst, processing, false, history);
        const Outcome sign = runBurst(burst, processing, true, history);
        std::printf("%8.1f s   | %13d %5d %8.1f | %13d %5d %8.1f   (pasted %d / %d)\n", processing,
                    silent.pressesDuringProcessing, silent.lost, silent.seconds, sign.pressesDuringProcessing, sign.lost,
                    sign.seconds, silent.pasted, sign.pasted);
    }
    return 0;
}
