// What the road tests on a headless compositor share: PulseAudio with its virtual microphone, the
// test recogniser on the engine's port, the compositor's stack, the program started in it and the
// widget titles it shows. Each test sets these up in its own SetUpTestSuite.
#pragma once

#include "e2e/Road.h"
#include "support/PulseServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/wait.h>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

template <class Stack>
class WaylandRoadFixture : public ::testing::Test {
protected:
    static void TearDownTestSuite() {
        stack_.reset();
        stopGroup(recognizer_);
        pulse_.reset();
        std::error_code ec;
        if (!scratch_.empty() && scratch_ != "/tmp") std::filesystem::remove_all(scratch_, ec);
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(error_.empty()) << error_;
    }
    void TearDown() override {
        if (HasFailure() && program_ > 0) {
            std::fprintf(stderr, "program log:\n%s\n", readFile(programLog()).c_str());
            if (titles_)
                for (const auto& t : titles_->seen()) std::fprintf(stderr, "widget title: %s\n", t.c_str());
        }
        titles_.reset();
        if (program_ > 0) stack_->stop(program_);
        program_ = -1;
    }

    std::string programLog() const { return stack_->work() + "/program.log"; }

    // PulseAudio with its virtual microphone and the test recogniser on the engine's port, its
    // files in a scratch folder named after `name`. When the program runs as the session's own
    // user (`asNobody`), so does the recogniser (a port held by another user's process is never
    // trusted), and both may reach the microphone's socket. Sets error_ and returns false when
    // either does not start.
    static bool startMicrophoneAndRecognizer(const std::string& name, bool asNobody) {
        namespace fs = std::filesystem;
        pulse_ = std::make_unique<test::PulseServer>();
        if (!pulse_->start()) {
            error_ = "PulseAudio: " + pulse_->error();
            return false;
        }
        std::string tmpl = "/tmp/tovrin-" + name + "-XXXXXX";
        scratch_ = mkdtemp(tmpl.data()) ? tmpl : "/tmp";
        std::vector<std::string> command = {TOVRIN_SPHINX_RECOGNIZER, TOVRIN_E2E_GRAMMAR, "8756",
                                            scratch_ + "/recognizer.log", scratch_ + "/last.wav"};
        if (asNobody) {
            for (fs::path p = pulse_->address().substr(5); p.has_parent_path() && p != "/tmp"; p = p.parent_path()) {
                std::error_code ec;
                fs::permissions(p, fs::perms::others_exec | (fs::is_socket(p) ? fs::perms::others_all : fs::perms::none),
                                fs::perm_options::add, ec);
            }
            fs::permissions(scratch_, fs::perms::all, fs::perm_options::add);
            command.insert(command.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
        }
        recognizer_ = launch(command, pulse_->environment(), scratch_ + "/recognizer.out");
        if (!waitUntil([] { return alive(recognizer_) && answers200(8756, "/health"); }, 30, 0.2)) {
            error_ = "the test recogniser did not start";
            return false;
        }
        return true;
    }

    // Every type the clipboard offers with its bytes, as another client reads it.
    std::vector<std::pair<std::string, std::string>> clipboard() {
        std::vector<std::pair<std::string, std::string>> out;
        std::string list;
        stack_->run({"wl-paste", "--list-types"}, &list);
        std::stringstream types(list);
        for (std::string type; std::getline(types, type);) {
            if (type.empty()) continue;
            std::string bytes;
            stack_->run({"wl-paste", "--no-newline", "--type", type}, &bytes);
            out.emplace_back(type, bytes);
        }
        return out;
    }

    // Holds the key `code` through `keyTool` (a program of the stack that takes code:1,
    // sleep:ms, code:0) while `sentence` plays into the microphone. recordingAt_: when the widget
    // showed the recording (seconds since 1970).
    void holdKeyAndSay(const std::string& keyTool, const std::string& code, const std::string& sentence) {
        const std::string wav = scratch_ + "/clip.wav";
        ASSERT_TRUE(test::PulseServer::speak(sentence, wav));
        const auto samples = test::PulseServer::readAs16kMono(wav);
        ASSERT_TRUE(samples);
        const int holdMs = static_cast<int>(samples->size() / 16.0) + 1500;
        const pid_t keys = stack_->spawn({keyTool, code + ":1", "sleep:" + std::to_string(holdMs), code + ":0"});
        ASSERT_TRUE(titles_->waitFor("Recording", 3)) << "the widget never showed the recording";
        recordingAt_ = titles_->firstSeenAt("Recording").value_or(0);
        waitUntil([] { return false; }, 0.3);  // the microphone is read by now, even on a busy machine
        EXPECT_TRUE(pulse_->play(wav));
        int status = 0;
        EXPECT_TRUE(waitUntil([&] { return waitpid(keys, &status, WNOHANG) == keys; }, holdMs / 1000.0 + 5));
        stack_->stop(keys);
    }

    static inline std::string skip_, error_, scratch_, xdisplay_;
    static inline std::unique_ptr<test::PulseServer> pulse_;
    static inline std::unique_ptr<Stack> stack_;
    static inline pid_t recognizer_ = -1;
    pid_t program_ = -1;
    std::unique_ptr<TitleWatch> titles_;
    double recordingAt_ = 0;
};

}  // namespace e2e
