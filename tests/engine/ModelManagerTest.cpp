#include "state/AppError.h"
#include "engine/ModelManager.h"
#include "platform/Defaults.h"
#include "platform/Http.h"
#include "platform/Paths.h"
#include "support/AsyncWait.h"
#include "support/LoopbackHttpServer.h"
#include "support/TempFolder.h"
#include "support/TestModel.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string modelBytes(char fill = 'x') { return test::wholeModelBytes(fill); }

class ModelManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        setenv("XDG_DATA_HOME", data.path().c_str(), 1);
        platform::Paths::setBundleOverride(bundle.path());
        ModelManager::shared().reload();
    }
    void TearDown() override {
        platform::Paths::setBundleOverride("");
    }

    std::string modelsFile(const std::string& id) const { return data.path() + "/Wendaro/models/ggml-" + id + ".bin"; }
    std::string legacyFile(const std::string& id) const { return data.path() + "/whisper-models/ggml-" + id + ".bin"; }
    std::string bundleFile(const std::string& id) const { return bundle.path() + "/resources/models/ggml-" + id + ".bin"; }
    void put(const std::string& path, const std::string& bytes = modelBytes()) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // Serves model files from a loopback host with the reply the test chooses.
    void host(std::function<test::CannedReply(const test::RecordedRequest&)> handler) {
        server = std::make_unique<test::LoopbackHttpServer>(std::move(handler));
        test::fakes().defaults.setString("modelBaseURL", server->baseUrl() + "/models/");
    }
    bool leftovers() const {
        for (auto& e : fs::directory_iterator(data.path() + "/Wendaro/models"))
            if (e.path().filename().string().rfind(".ggml-", 0) == 0) return true;
        return false;
    }

    test::TempFolder data;
    test::TempFolder bundle;
    std::unique_ptr<test::LoopbackHttpServer> server;
};

TEST_F(ModelManagerTest, CatalogueAndDownloadAddress) {
    const auto& c = ModelManager::catalog();
    ASSERT_EQ(c.size(), 6u);
    const std::vector<WhisperModel> expected = {
        {"tiny", "Tiny", 75, "Fastest, lowest accuracy"},
        {"base", "Base", 148, "Fast, light — quick notes"},
        {"small", "Small", 488, "Balanced quality and speed"},
        {"medium", "Medium", 1530, "High accuracy"},
        {"large-v3-turbo", "Large v3 Turbo", 1550, "Best speed/accuracy — needs 16GB+ RAM"},
        {"large-v3", "Large v3", 3100, "Highest accuracy, slower"},
    };
    EXPECT_EQ(c, expected);

    const std::string base = WhisperModel::kDefaultDownloadBase;
    EXPECT_EQ(base.size(), 58u);
    EXPECT_EQ(base.rfind("https://", 0), 0u);
    EXPECT_EQ(base.substr(base.size() - 14), "/resolve/main/");
    EXPECT_EQ(std::count(base.begin(), base.end(), '/'), 7);  // https://host/owner/repo/resolve/main/
    EXPECT_EQ(c[4].url(), base + "ggml-large-v3-turbo.bin");

    // A mirror in the "modelBaseURL" default: https anywhere, plain http only on this machine.
    for (const std::string mirror : {"https://mirror.example.org/models/", "http://127.0.0.1:8080/m/",
                                     "http://localhost:9/", "http://[::1]:9/"}) {
        test::fakes().defaults.setString("modelBaseURL", mirror);
        EXPECT_EQ(c[0].url(), mirror + "ggml-tiny.bin");
    }
    test::fakes().defaults.setString("modelBaseURL", "https://mirror.example.org/models");
    EXPECT_EQ(c[0].url(), "https://mirror.example.org/models/ggml-tiny.bin");
    for (const std::string refused : {"http://mirror.example.org/", "http://127.0.0.1.example.org/", "ftp://127.0.0.1/",
                                      "file:///tmp/", "https://user:pw@mirror.example.org/", "not a url", ""}) {
        test::fakes().defaults.setString("modelBaseURL", refused);
        EXPECT_EQ(c[0].url(), base + "ggml-tiny.bin") << refused;
    }
}

TEST_F(ModelManagerTest, FirstLaunchHasNothingAndDefaultsToLargeTurbo) {
    auto& m = ModelManager::shared();
    EXPECT_TRUE(m.installed().empty());
    EXPECT_EQ(m.activeModelID(), "large-v3-turbo");
    EXPECT_FALSE(m.resolvedActivePath());
    EXPECT_FALSE(m.downloading());
    EXPECT_EQ(m.progress(), 0);
    EXPECT_TRUE(fs::is_directory(data.path() + "/Wendaro/models"));
    // Readable by the user alone, as the folders around it.
    EXPECT_EQ(fs::status(data.path() + "/Wendaro/models").permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(data.path() + "/Wendaro").permissions() & fs::perms::all, fs::perms::owner_all);
    // The default is not written back to the settings.
    EXPECT_FALSE(platform::Defaults::shared().string("activeModel"));
}

TEST_F(ModelManagerTest, ResolvedPathPrefersModelsThenLegacyThenBundle) {
    auto& m = ModelManager::shared();
    const WhisperModel tiny = *ModelManager::model("tiny");
    put(bundleFile("tiny"));
    EXPECT_EQ(m.resolvedPath(tiny), bundleFile("tiny"));
    put(legacyFile("tiny"));
    EXPECT_EQ(m.resolvedPath(tiny), legacyFile("tiny"));
    put(modelsFile("tiny"));
    EXPECT_EQ(m.resolvedPath(tiny), modelsFile("tiny"));
}

TEST_F(ModelManagerTest, LegacyOnlyModelCountsAsInstalledAndIsUsed) {
    put(legacyFile("medium"));
    auto& m = ModelManager::shared();
    m.rescan();
    EXPECT_EQ(m.installed(), std::set<std::string>{"medium"});
    EXPECT_EQ(m.activeModelID(), "medium");
    EXPECT_EQ(m.resolvedActivePath(), legacyFile("medium"));
}

TEST_F(ModelManagerTest, RescanRepairsTheActiveModelWithTheLargestInstalled) {
    put(modelsFile("base"));
    put(modelsFile("small"));
    auto& m = ModelManager::shared();
    m.rescan();
    EXPECT_EQ(m.installed(), (std::set<std::string>{"base", "small"}));
    EXPECT_EQ(m.activeModelID(), "small");
    EXPECT_EQ(platform::Defaults::shared().string("activeModel"), "small");

    // An installed active model is left alone, and a stored id outside the catalogue is replaced.
    m.setActiveModelID("base");
    m.rescan();
    EXPECT_EQ(m.activeModelID(), "base");
    platform::Defaults::shared().setString("activeModel", "gigantic");
    m.reload();
    EXPECT_EQ(m.activeModelID(), "small");

    // With nothing installed the id is kept as it is.
    fs::remove(modelsFile("base"));
    fs::remove(modelsFile("small"));
    m.setActiveModelID("tiny");
    m.rescan();
    EXPECT_EQ(m.activeModelID(), "tiny");
    EXPECT_TRUE(m.installed().empty());
}

TEST_F(ModelManagerTest, ActiveModelIsPersisted) {
    ModelManager::shared().setActiveModelID("base");
    EXPECT_EQ(platform::Defaults::shared().string("activeModel"), "base");
    put(modelsFile("base"));
    ModelManager::shared().reload();
    EXPECT_EQ(ModelManager::shared().activeModelID(), "base");
}

TEST_F(ModelManagerTest, DownloadWithLengthReportsProgressAndInstallsOverAnOlderFile) {
    const std::string bytes = modelBytes('m');
    host([&](const test::RecordedRequest&) {
        test::CannedReply r;
        r.body = bytes;
        r.headers = {{"Content-Type", "application/octet-stream"}};
        return r;
    });
    put(modelsFile("base"), modelBytes('o'));
    auto& m = ModelManager::shared();
    std::vector<double> seen;
    std::optional<std::string> downloadingSeen;
    auto listener = std::make_unique<QObject>();
    QObject::connect(&m, &ModelManager::changed, listener.get(), [&] {
        seen.push_back(m.progress());
        if (m.downloading()) downloadingSeen = m.downloading();
    });
    test::driveTask(m.download(*ModelManager::model("base")));
    listener.reset();

    ASSERT_EQ(server->requests().size(), 1u);
    EXPECT_EQ(server->requests()[0].method, "GET");
    EXPECT_EQ(server->requests()[0].path, "/models/ggml-base.bin");
    EXPECT_EQ(downloadingSeen, "base");
    EXPECT_FALSE(m.downloading());
    EXPECT_DOUBLE_EQ(m.progress(), 1.0);
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](double p) { return p > 0 && p <= 1; }));
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(readFile(modelsFile("base")), bytes);
    EXPECT_EQ(m.activeModelID(), "base");
    EXPECT_EQ(platform::Defaults::shared().string("activeModel"), "base");
    EXPECT_EQ(m.installed(), std::set<std::string>{"base"});
    EXPECT_FALSE(leftovers());
}

TEST_F(ModelManagerTest, DownloadWithoutLengthKeepsProgressAtZero) {
    const std::string bytes = modelBytes('n');
    host([&](const test::RecordedRequest&) {
        test::CannedReply r;
        r.body = bytes;
        r.length = test::CannedReply::Length::None;
        return r;
    });
    auto& m = ModelManager::shared();
    double highest = 0;
    auto listener = std::make_unique<QObject>();
    QObject::connect(&m, &ModelManager::changed, listener.get(), [&] { highest = std::max(highest, m.progress()); });
    test::driveTask(m.download(*ModelManager::model("tiny")));
    listener.reset();
    EXPECT_EQ(highest, 0);
    EXPECT_EQ(m.progress(), 0);
    EXPECT_EQ(readFile(modelsFile("tiny")), bytes);
    EXPECT_EQ(m.activeModelID(), "tiny");
}

// Whatever the host sends short of a whole model file, nothing is installed or made active, the
// error says why, and no partial file stays behind.
TEST_F(ModelManagerTest, BrokenTransfersInstallNothingAndSayWhy) {
    const std::string whole = modelBytes();
    const std::string cut = whole.substr(0, whole.size() / 2);
    auto reply = [](int status, std::string body, test::CannedReply::Length length = test::CannedReply::Length::Exact,
                    std::size_t announced = 0) {
        test::CannedReply r;
        r.status = status;
        r.body = std::move(body);
        r.length = length;
        r.announced = announced;
        return r;
    };
    using L = test::CannedReply::Length;
    struct Case {
        const char* what;
        test::CannedReply reply;
        std::string error;
    };
    test::CannedReply loop = reply(302, "");
    loop.headers = {{"Location", "/models/ggml-medium.bin"}};
    const std::vector<Case> cases = {
        {"cut short without a length", reply(200, cut, L::None), "the file is incomplete"},
        {"the cut file announced as the whole", reply(200, cut), "the file is incomplete"},
        {"fewer bytes than announced", reply(200, cut, L::Announced, whole.size()), ""},
        {"a web page", reply(200, "<html>rate limited</html>"), "the host sent no model file"},
        {"not found", reply(404, "Entry not found"), "the host answered HTTP 404"},
        {"empty body", reply(200, ""), "the file is incomplete"},
        {"a redirect loop", loop, "Too many redirects"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        host([&](const test::RecordedRequest&) { return c.reply; });
        const std::string older = modelBytes('o');
        put(modelsFile("small"), older);
        auto& m = ModelManager::shared();
        m.rescan();
        m.setActiveModelID("small");
        try {
            test::driveTask(m.download(*ModelManager::model("medium")));
            ADD_FAILURE() << "the download did not fail";
        } catch (const AppError& e) {
            EXPECT_EQ(e.domain(), "Wendaro");
            EXPECT_EQ(e.code(), 2);
            EXPECT_EQ(e.what(), c.error);
        } catch (const platform::HttpError& e) {
            // The transfer's own failure (the connection closed early): its message says so.
            if (!c.error.empty()) EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
        EXPECT_FALSE(fs::exists(modelsFile("medium")));
        EXPECT_EQ(readFile(modelsFile("small")), older);
        EXPECT_FALSE(m.downloading());
        EXPECT_EQ(m.activeModelID(), "small");
        EXPECT_EQ(m.installed(), std::set<std::string>{"small"});
        EXPECT_FALSE(leftovers());
    }
}

// At start, a damaged file on disk is not offered as installed (nor made active), and the partial
// files of downloads that never finished are removed.
TEST_F(ModelManagerTest, AtStartDamagedFilesAreNotInstalledAndLeftoversGo) {
    const std::string whole = modelBytes();
    put(modelsFile("large-v3"), whole.substr(0, whole.size() - 1));
    put(legacyFile("medium"), whole + "x");
    put(modelsFile("small"), "<html></html>");
    put(modelsFile("base"), whole);
    put(data.path() + "/Wendaro/models/.ggml-tiny.bin.download", whole.substr(0, 100));
    platform::Defaults::shared().setString("activeModel", "large-v3");
    auto& m = ModelManager::shared();
    m.reload();
    EXPECT_EQ(m.installed(), std::set<std::string>{"base"});
    EXPECT_EQ(m.activeModelID(), "base");
    EXPECT_FALSE(m.resolvedPath(*ModelManager::model("large-v3")));
    EXPECT_FALSE(leftovers());
    EXPECT_TRUE(fs::exists(modelsFile("large-v3")));  // the user's file is left alone
}

// A host that never answers, and one that stops sending mid-file: the download ends in a
// time-out, three times running, and leaves nothing behind.
TEST_F(ModelManagerTest, AStalledTransferTimesOutAndLeavesNothing) {
    platform::Http::setTimeoutLimit(0.2);
    for (const bool silent : {true, false}) {
        host([&](const test::RecordedRequest&) {
            test::CannedReply r;
            r.silent = silent;
            r.body = modelBytes();
            r.stallAfter = 150000;
            return r;
        });
        auto& m = ModelManager::shared();
        for (int run = 0; run < 3; ++run) {
            EXPECT_THROW(test::driveTask(m.download(*ModelManager::model("tiny"))), platform::HttpError);
            EXPECT_FALSE(m.downloading());
            EXPECT_TRUE(m.installed().empty());
            EXPECT_FALSE(leftovers());
        }
    }
}

TEST_F(ModelManagerTest, MoreBytesThanAnnouncedNeverInstallsMoreThanAnnounced) {
    const std::string whole = modelBytes();
    const std::string bytes = whole + "trailing bytes";
    host([&](const test::RecordedRequest&) {
        test::CannedReply r;
        r.body = bytes;
        r.length = test::CannedReply::Length::Announced;
        r.announced = whole.size();
        return r;
    });
    auto& m = ModelManager::shared();
    try {
        test::driveTask(m.download(*ModelManager::model("tiny")));
        // HTTP ends the body at the announced length: exactly that much may land.
        EXPECT_EQ(readFile(modelsFile("tiny")), whole);
    } catch (const std::exception&) {
        EXPECT_FALSE(fs::exists(modelsFile("tiny")));
    }
    EXPECT_FALSE(leftovers());
}

TEST_F(ModelManagerTest, UnreachableHostPassesTheTransferErrorThrough) {
    {
        test::LoopbackHttpServer closed([](const test::RecordedRequest&) { return test::CannedReply{}; });
        test::fakes().defaults.setString("modelBaseURL", closed.baseUrl());
    }  // nothing listens there any more
    EXPECT_THROW(test::driveTask(ModelManager::shared().download(*ModelManager::model("tiny"))), platform::HttpError);
    EXPECT_FALSE(ModelManager::shared().downloading());
    EXPECT_TRUE(ModelManager::shared().installed().empty());
}

TEST_F(ModelManagerTest, AFileThatCannotBeMovedIntoPlaceIsCouldNotSaveModel) {
    host([&](const test::RecordedRequest&) {
        test::CannedReply r;
        r.body = modelBytes();
        return r;
    });
    // A non-empty folder in the way of the destination.
    put(modelsFile("tiny") + "/blocker", "x");
    try {
        test::driveTask(ModelManager::shared().download(*ModelManager::model("tiny")));
        ADD_FAILURE() << "the download did not fail";
    } catch (const AppError& e) {
        EXPECT_EQ(e.code(), 2);
        EXPECT_STREQ(e.what(), "Could not save model");
    }
    EXPECT_TRUE(ModelManager::shared().installed().empty());
    EXPECT_FALSE(leftovers());
}

TEST_F(ModelManagerTest, OneDownloadAtATime) {
    host([&](const test::RecordedRequest&) {
        test::CannedReply r;
        r.body = modelBytes();
        r.delayMs = 300;
        return r;
    });
    auto& m = ModelManager::shared();
    auto first = test::startTask(m.download(*ModelManager::model("tiny")));
    EXPECT_EQ(m.downloading(), "tiny");
    // The second call returns at once, without error, and changes nothing.
    test::driveTask(m.download(*ModelManager::model("base")), 0, 1);
    EXPECT_EQ(m.downloading(), "tiny");
    ASSERT_TRUE(test::driveUntil([&] { return first->done; }));
    EXPECT_FALSE(first->error);
    EXPECT_EQ(server->requests().size(), 1u);
    EXPECT_EQ(m.installed(), std::set<std::string>{"tiny"});
    EXPECT_EQ(m.activeModelID(), "tiny");
}

}  // namespace
