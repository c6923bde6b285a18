// The fake clock and the coroutine helpers that every timed rule of the program relies on.
#include "platform/FakeScheduler.h"
#include "platform/Task.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace {

platform::Task<std::string> slow(double seconds, std::string value) {
    co_await platform::sleepFor(seconds);
    co_return value;
}

platform::Task<std::string> failing(double seconds) {
    co_await platform::sleepFor(seconds);
    throw std::runtime_error("boom");
    co_return std::string();
}

platform::Task<> raceInto(platform::Task<std::string> task, double limit, std::optional<std::string>* out, bool* done,
                          bool* threw) {
    try {
        *out = co_await platform::within(std::move(task), limit);
    } catch (const std::exception&) {
        *threw = true;
    }
    *done = true;
}

TEST(FakeScheduler, RunsCallsInTimeOrderAndSkipsCancelledOnes) {
    platform::FakeScheduler s;
    std::vector<std::string> log;
    s.postAfter(0.6, [&] { log.push_back("restore"); });
    s.postAfter(0.05, [&] {
        log.push_back("paste");
        s.postAfter(0.01, [&] { log.push_back("nested"); });
    });
    auto cancelled = s.postAfter(0.3, [&] { log.push_back("cancelled"); });
    s.post([&] { log.push_back("now"); });
    cancelled.cancel();
    s.advance(0.059);
    EXPECT_EQ(log, (std::vector<std::string>{"now", "paste"}));
    s.advance(1);
    EXPECT_EQ(log, (std::vector<std::string>{"now", "paste", "nested", "restore"}));
    EXPECT_DOUBLE_EQ(s.now(), 1.059);
    EXPECT_EQ(s.pendingCount(), 0u);
}

TEST(Within, TheFasterSideWins) {
    test::reset();
    auto& clock = test::fakes().scheduler;
    std::optional<std::string> out;
    bool done = false, threw = false;

    raceInto(slow(1, "rewritten"), 2.5, &out, &done, &threw);
    clock.advance(1);
    EXPECT_TRUE(done);
    EXPECT_EQ(out, "rewritten");

    done = false;
    raceInto(slow(3, "late"), 2.5, &out, &done, &threw);
    clock.advance(2.49);
    EXPECT_FALSE(done);
    clock.advance(0.02);
    EXPECT_TRUE(done);
    EXPECT_FALSE(out.has_value());
    clock.advance(1);  // the slow side finishing later changes nothing

    done = false;
    raceInto(failing(0.5), 2.5, &out, &done, &threw);
    clock.advance(0.5);
    EXPECT_TRUE(done);
    EXPECT_TRUE(threw);

    // A task that is already done before the race starts.
    done = threw = false;
    raceInto(slow(0, "at once"), 2.5, &out, &done, &threw);
    clock.runPending();
    EXPECT_TRUE(done);
    EXPECT_EQ(out, "at once");
}

}  // namespace
