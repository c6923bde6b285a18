// What the road tests on a headless compositor share: PulseAudio with its virtual microphone, the
// test recogniser on the engine's port, the compositor's stack, the program started in it and the
// widget titles it shows. Each test sets these up in its own SetUpTestSuite.
#pragma once

#include "e2e/Road.h"
#include "support/PulseServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
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

    static inline std::string skip_, error_, scratch_, xdisplay_;
    static inline std::unique_ptr<test::PulseServer> pulse_;
    static inline std::unique_ptr<Stack> stack_;
    static inline pid_t recognizer_ = -1;
    pid_t program_ = -1;
    std::unique_ptr<TitleWatch> titles_;
};

}  // namespace e2e
