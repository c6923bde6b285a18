// Shared set-up of the end-to-end tests: one PulseAudio daemon with the virtual microphone for
// the whole test program, the road (program, target window, recogniser) and the speech clips.
#pragma once

#include "e2e/Road.h"
#include "support/DesktopTestMain.h"
#include "support/PulseServer.h"
#include "support/XTestKeyboard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace e2e {

inline Road::Binaries binaries() {
    return {TOVRIN_PROGRAM, TOVRIN_E2E_TARGET, TOVRIN_SPHINX_RECOGNIZER, TOVRIN_E2E_GRAMMAR};
}

// A spoken sentence as a WAV file, and its length.
struct Clip {
    std::string path;
    double seconds = 0;
};

class RoadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pulse_ = std::make_unique<test::PulseServer>();
        if (!pulse_->start()) {
            setupError_ = "PulseAudio: " + pulse_->error();
            return;
        }
        road_ = std::make_unique<Road>(test::desktop(), *pulse_, binaries());
        keys_ = std::make_unique<test::XTestKeyboard>(test::desktop().display());
    }
    static void TearDownTestSuite() {
        keys_.reset();
        road_.reset();
        clips_.clear();
        pulse_.reset();
    }
    void SetUp() override {
        if (!setupError_.empty()) GTEST_SKIP() << setupError_;
        ASSERT_TRUE(keys_->ok());
    }
    void TearDown() override {
        if (!road_) return;
        // Nothing stays pressed for the next test.
        keys_->release("Control_R");
        keys_->release("Menu");
        if (HasFailure()) {
            std::fprintf(stderr, "program log:\n%s\n", road_->programLog().c_str());
            std::fprintf(stderr, "recogniser log:\n%s\n", road_->recognizerLog().c_str());
            // TOVRIN_E2E_KEEP_AUDIO=<file> keeps the audio the recogniser last received.
            if (const char* keep = std::getenv("TOVRIN_E2E_KEEP_AUDIO"); keep && *keep) {
                std::error_code ec;
                std::filesystem::copy_file(road_->recognizerLastWav(), keep,
                                           std::filesystem::copy_options::overwrite_existing, ec);
            }
            if (road_->programPid() > 0)
                for (const auto& t : road_->titles().seen()) std::fprintf(stderr, "widget title: %s\n", t.c_str());
        }
        road_->stopProgram();
        road_->stopClipboardOwner();
        road_->stopTarget();
    }

    static const Clip& clip(const std::string& sentence) {
        auto it = clips_.find(sentence);
        if (it != clips_.end()) return it->second;
        Clip c;
        c.path = pulse_->folder() + "/clip" + std::to_string(clips_.size()) + ".wav";
        if (test::PulseServer::speak(sentence, c.path))
            if (auto samples = test::PulseServer::readAs16kMono(c.path)) c.seconds = samples->size() / 16000.0;
        return clips_.emplace(sentence, c).first->second;
    }

    // A new user with these settings, the program started, the target window focused again.
    void launch(const std::string& defaultsJson, const std::vector<std::string>& env = {}) {
        road_->freshUser(defaultsJson);
        launchAsIs(env);
    }
    void launchAsIs(const std::vector<std::string>& env = {}, const std::vector<std::string>& launcher = {}) {
        ASSERT_TRUE(road_->startTarget()) << "the target window never got focus";
        ASSERT_TRUE(road_->startProgram(env, launcher)) << "the program showed no window\n" << road_->programLog();
        ASSERT_TRUE(road_->focusTarget());
    }

    // Holds the push-to-talk key while the clip plays into the microphone; the seconds held.
    double holdAndSay(const Clip& c, double extraHold = 0.15, const std::string& key = "Control_R") {
        keys_->press(key);
        const double down = now();
        EXPECT_TRUE(road_->titles().waitFor("Recording", 3)) << "the widget never showed the recording";
        EXPECT_TRUE(pulse_->play(c.path));
        waitUntil([] { return false; }, extraHold);
        keys_->release(key);
        return now() - down;
    }

    bool waitForText(const std::string& text, double seconds = 20) {
        return waitUntil([&] { return road_->targetText() == text; }, seconds, 0.02);
    }

    // The history rows as "text|words|seconds" lines.
    std::string historyRows() const {
        return road_->sql("SELECT text, words, seconds FROM history ORDER BY id").value_or("<no database>");
    }
    int historyCount() const {
        const auto out = road_->sql("SELECT count(*) FROM history");
        return out ? std::atoi(out->c_str()) : -1;
    }

    static inline std::unique_ptr<test::PulseServer> pulse_;
    static inline std::unique_ptr<Road> road_;
    static inline std::unique_ptr<test::XTestKeyboard> keys_;
    static inline std::map<std::string, Clip> clips_;
    static inline std::string setupError_;
};

// The road with the test recogniser as the on-device engine; skipped when it is not built.
class RecognizerRoadTest : public RoadTest {
protected:
    static void SetUpTestSuite() {
        RoadTest::SetUpTestSuite();
        if (!setupError_.empty()) return;
        if (std::string(TOVRIN_SPHINX_RECOGNIZER).empty())
            setupError_ = "the test recogniser is not built (libpocketsphinx-dev is missing)";
        else if (!road_->startRecognizer())
            setupError_ = "the test recogniser did not start";
    }
    void SetUp() override {
        RoadTest::SetUp();
        // A test that stopped it and failed before starting it again leaves it down.
        if (!IsSkipped() && !road_->recognizerRunning()) ASSERT_TRUE(road_->startRecognizer());
    }
};

}  // namespace e2e
