// Installs fresh fakes for every platform service before each test program runs.
// Tests reach them through test::fakes(); reset() gives a test a clean slate.
#pragma once

#include "support/Fakes.h"

#include "platform/FakeScheduler.h"
#include "platform/MemoryDefaults.h"
#include "platform/MemoryKeychain.h"

#include <gtest/gtest.h>

#include <memory>

namespace test {

struct Fakes {
    platform::FakeScheduler scheduler;
    platform::MemoryDefaults defaults;
    platform::MemoryKeychain keychain;
    FakeSounds sounds;
    FakeWorkspace workspace;
    FakeAccessibility accessibility;
    FakePasteboard pasteboard;
    FakeKeySynth keySynth;
    FakeApp app;
    FakeLoginItem loginItem;
};

// The fakes currently installed.
Fakes& fakes();
// Replaces every fake with a fresh one (settings re-read from the empty store).
void reset();

class TestEnvironment : public ::testing::Environment {
public:
    void SetUp() override { reset(); }
};

}  // namespace test
