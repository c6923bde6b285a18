// Stand-ins for the dictation controller's collaborators, scripted by the tests.
#pragma once

#include "cloud/CloudTranscriber.h"
#include "cloud/Enhancer.h"
#include "dictation/AudioRecorder.h"
#include "dictation/TextInjector.h"
#include "dictation/Transcriber.h"
#include "engine/WhisperClient.h"
#include "platform/Task.h"
#include "ui/overlay/FloatingWidget.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace test {

struct FakeRecorder : AudioRecorder {
    bool failStart = false;
    std::size_t wavBytes = 44 + 32000;  // one second
    int starts = 0, stops = 0, cancels = 0;
    void start() override {
        ++starts;
        if (failStart) throw std::runtime_error("No input device");
    }
    std::string stop() override {
        ++stops;
        return std::string(wavBytes, '\0');
    }
    void cancel() override { ++cancels; }
};

struct TranscriberDeps {
    WhisperClient whisper;
    CloudTranscriber cloud;
};

struct FakeTranscriber : TranscriberDeps, Transcriber {
    FakeTranscriber() : Transcriber(whisper, cloud) {}
    bool healthy = true;
    double delay = 0.2;
    bool fail = false;
    WhisperResult result{"hello world", std::string("en")};
    std::vector<std::string> langs;

    platform::Task<WhisperResult> transcribe(std::string, std::string lang) override {
        langs.push_back(lang);
        co_await platform::sleepFor(delay);
        if (fail) throw std::runtime_error("engine down");
        WhisperResult copy = result;  // co_return of a member would move from it
        co_return copy;
    }
    platform::Task<bool> isHealthy() override {
        co_await platform::sleepFor(0.05);
        co_return healthy;
    }
};

struct FakeEnhancer : Enhancer {
    double delay = 0.5;
    std::function<std::string(const std::string&)> rewrite = [](const std::string& t) { return "[" + t + "]"; };
    std::vector<std::string> instructions;
    platform::Task<std::string> enhance(std::string text, Provider, std::string, std::string instruction,
                                        std::string) override {
        instructions.push_back(instruction);
        co_await platform::sleepFor(delay);
        co_return rewrite(text);
    }
};

struct FakeInjector : TextInjector {
    std::vector<std::string> pasted;
    bool chordSent = true;  // what the chord reports, at once
    void pasteViaClipboard(const std::string& text, std::function<void(bool)> done) override {
        pasted.push_back(text);
        if (done) done(chordSent);
    }
};

// Every call, in order, as "recording", "processing", "enhancing", "still transcribing", "hide",
// "flash:<text>:<ok>".
struct FakeWidget : FloatingWidget {
    std::vector<std::string> events;
    std::vector<float> levels;
    void showRecording() override { events.push_back("recording"); }
    void showProcessing() override { events.push_back("processing"); }
    void showEnhancing() override { events.push_back("enhancing"); }
    void showStillTranscribing() override { events.push_back("still transcribing"); }
    void flashResult(const std::string& m, bool ok) override {
        events.push_back("flash:" + m + ":" + (ok ? "1" : "0"));
    }
    void hide() override { events.push_back("hide"); }
    void pushLevel(float level) override { levels.push_back(level); }
    std::string last() const { return events.empty() ? "" : events.back(); }
};

}  // namespace test
