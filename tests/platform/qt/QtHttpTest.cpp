// The HTTP session against loopback servers that never answer, stall mid-body or answer at
// once. Built twice: with the other tests, and alone under AddressSanitizer (scripts/test).
#include "platform/Http.h"
#include "support/LoopbackHttpServer.h"
#include "support/TaskWait.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <filesystem>
#include <memory>
#include <string>

namespace {

using platform::Http;
using platform::HttpError;
using platform::HttpRequest;
using platform::HttpResponse;

constexpr double kShort = 0.2;  // seconds without progress before a request gives up

std::string body(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

HttpRequest get(const test::LoopbackHttpServer& server, double timeout = kShort) {
    HttpRequest r;
    r.url = server.baseUrl() + "/x";
    r.timeout = timeout;
    return r;
}

// A client that owns its session and drops it as soon as the reply is in, the way one-shot
// clients (the model download, the update check) do.
platform::Task<HttpResponse> sendOnce(HttpRequest request) {
    auto session = Http::create(60);
    co_return co_await session->send(std::move(request));
}

platform::Task<HttpResponse> downloadOnce(HttpRequest request, std::string path) {
    auto session = Http::create(60);
    co_return co_await session->download(std::move(request), std::move(path), [](std::int64_t, std::int64_t) {});
}

template <typename T>
HttpError::Kind failureOf(platform::Task<T> task) {
    try {
        test::await(std::move(task), 10);
    } catch (const HttpError& e) {
        if (e.kind() == HttpError::Kind::TimedOut) EXPECT_STREQ(e.what(), "the transfer timed out");
        return e.kind();
    }
    ADD_FAILURE() << "the request did not fail";
    return HttpError::Kind::Other;
}

// A request that reaches its time-out ends with a time-out error, never a crash: the reply that
// aborts itself is still running its own code when the waiting coroutine ends.
TEST(QtHttp, ARequestThatGetsNoAnswerTimesOut) {
    test::LoopbackHttpServer silent([](const test::RecordedRequest&) {
        test::CannedReply r;
        r.silent = true;
        return r;
    });
    auto session = Http::create(60);
    for (int run = 0; run < 3; ++run) {
        EXPECT_EQ(failureOf(session->send(get(silent))), HttpError::Kind::TimedOut);
        EXPECT_EQ(failureOf(sendOnce(get(silent))), HttpError::Kind::TimedOut);
    }
    // The session's own time-out applies when the request names none.
    auto brief = Http::create(kShort);
    EXPECT_EQ(failureOf(brief->send(get(silent, 0))), HttpError::Kind::TimedOut);
}

TEST(QtHttp, ATransferThatStallsMidBodyTimesOut) {
    const std::string full = body(200000);
    test::LoopbackHttpServer stalling([&](const test::RecordedRequest&) {
        test::CannedReply r;
        r.body = full;
        r.stallAfter = 70000;
        return r;
    });
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath("partial").toStdString();
    auto session = Http::create(60);
    for (int run = 0; run < 3; ++run) {
        EXPECT_EQ(failureOf(session->send(get(stalling))), HttpError::Kind::TimedOut);
        EXPECT_EQ(failureOf(session->download(get(stalling), path, {})), HttpError::Kind::TimedOut);
        EXPECT_EQ(failureOf(downloadOnce(get(stalling), path)), HttpError::Kind::TimedOut);
        EXPECT_LE(std::filesystem::file_size(path), 70000u);
    }
}

// A session closed while its requests wait ends them as cancelled instead of leaving them
// waiting for ever.
TEST(QtHttp, ClosingTheSessionCancelsItsRequests) {
    test::LoopbackHttpServer silent([](const test::RecordedRequest&) {
        test::CannedReply r;
        r.silent = true;
        return r;
    });
    auto session = Http::create(60);
    auto pending = test::watch(session->send(get(silent, 30)));
    test::pumpFor(0.05);
    session.reset();
    ASSERT_TRUE(test::pumpUntil([&] { return pending->done; }, 5));
    try {
        std::rethrow_exception(pending->error);
    } catch (const HttpError& e) {
        EXPECT_EQ(e.kind(), HttpError::Kind::Cancelled);
    }
}

// Replies that do arrive still come through whole, through a session dropped right after.
TEST(QtHttp, AnAnswerArrivesWholeThroughAOneShotSession) {
    const std::string full = body(300000);
    test::LoopbackHttpServer server([&](const test::RecordedRequest&) { return test::CannedReply{201, full}; });
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath("file").toStdString();
    for (int run = 0; run < 3; ++run) {
        const HttpResponse sent = test::await(sendOnce(get(server, 5)));
        EXPECT_EQ(sent.status, 201);
        EXPECT_EQ(sent.body, full);
        const HttpResponse fetched = test::await(downloadOnce(get(server, 5), path));
        EXPECT_EQ(fetched.status, 201);
        EXPECT_EQ(std::filesystem::file_size(path), full.size());
    }
}

}  // namespace
