// The on-device models list of the settings: rows by catalogue entry and state, selection that
// stores the model before the engine restarts with it, and downloads with their progress bar,
// their failures told under the row, and the engine following the new model.
#include "state/AppSettings.h"
#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
#include "platform/Defaults.h"
#include "support/Child.h"
#include "support/AsyncWait.h"
#include "support/FakeEngine.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestEnvironment.h"
#include "platform/Http.h"
#include "ui/kit/DownloadFailure.h"
#include "ui/kit/KestalErrorText.h"
#include "support/TestModel.h"
#include "ui/main/LocalModelRow.h"
#include "ui/main/LocalModelsView.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

std::string modelBytes() { return test::wholeModelBytes('m'); }

class ModelsListTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        engine = std::make_unique<test::FakeEngine>(true, false);
        AppSettings::shared().setProvider("local");
        test::fakes().scheduler.runPending();
        view = std::make_unique<LocalModelsView>();
        view->resize(520, 400);
        view->show();
    }
    void TearDown() override {
        view.reset();
        server.reset();
        engine.reset();
    }
    void host(int status, std::string body, int delayMs = 0) {
        server = std::make_unique<test::LoopbackHttpServer>([=](const test::RecordedRequest&) {
            test::CannedReply r;
            r.status = status;
            r.body = body;
            r.delayMs = delayMs;
            return r;
        });
        test::fakes().defaults.setString("modelBaseURL", server->baseUrl() + "/models/");
    }
    // The model file each launched server was given, in launch order.
    std::vector<std::string> launchedModels() const {
        std::vector<std::string> out;
        for (const auto& launch : engine->processes->launches) {
            const auto& args = launch.arguments;
            const auto m = std::find(args.begin(), args.end(), "-m");
            out.push_back(m != args.end() && m + 1 != args.end() ? *(m + 1) : "");
        }
        return out;
    }
    // What the row's trailing end offers: "", "Use", "progress" or the download button's title.
    static std::string control(LocalModelRow* r) {
        if (!test::child<QPushButton>(r, "useButton")->isHidden()) return "Use";
        if (!test::child<QProgressBar>(r, "progressBar")->isHidden()) return "progress";
        if (!test::child<QPushButton>(r, "downloadButton")->isHidden()) return test::child<QPushButton>(r, "downloadButton")->text().toStdString();
        return "";
    }
    static void tap(LocalModelRow* r) { QTest::mouseClick(r, Qt::LeftButton, {}, r->rect().center()); }

    std::unique_ptr<test::FakeEngine> engine;
    std::unique_ptr<test::LoopbackHttpServer> server;
    std::unique_ptr<LocalModelsView> view;
};

TEST_F(ModelsListTest, RowsFollowTheCatalogueAndEachModelsState) {
    const auto& catalog = ModelManager::catalog();
    ASSERT_EQ(view->rows().size(), catalog.size());
    for (std::size_t i = 0; i < catalog.size(); ++i) {
        LocalModelRow* r = view->rows()[i];
        EXPECT_EQ(r->model().id, catalog[i].id);
        EXPECT_EQ(test::child<QLabel>(r, "nameLabel")->text().toStdString(), catalog[i].name);
        EXPECT_EQ(test::child<QLabel>(r, "noteLabel")->text().toStdString(), catalog[i].note);
        EXPECT_EQ(control(r), "Download " + std::to_string(catalog[i].sizeMB) + " MB");
        EXPECT_TRUE(test::child<QLabel>(r, "installedMark")->isHidden());
    }

    // The active model need not be on disk: it keeps its mark and offers its download.
    ModelManager::shared().setActiveModelID("medium");
    EXPECT_EQ(test::child<LocalModelRow>(view, "model-medium")->stateSymbol(), "largecircle.fill.circle");
    EXPECT_EQ(control(test::child<LocalModelRow>(view, "model-medium")), "Download 1530 MB");
    EXPECT_EQ(test::child<LocalModelRow>(view, "model-tiny")->stateSymbol(), "circle");

    engine->installModel("tiny");
    engine->installModel("base");
    ModelManager::shared().setActiveModelID("base");
    EXPECT_EQ(control(test::child<LocalModelRow>(view, "model-base")), "") << "installed and active: nothing to do";
    EXPECT_FALSE(test::child<QLabel>(test::child<LocalModelRow>(view, "model-base"), "installedMark")->isHidden());
    EXPECT_EQ(test::child<LocalModelRow>(view, "model-base")->stateSymbol(), "largecircle.fill.circle");
    EXPECT_EQ(control(test::child<LocalModelRow>(view, "model-tiny")), "Use");
    EXPECT_FALSE(test::child<QLabel>(test::child<LocalModelRow>(view, "model-tiny"), "installedMark")->isHidden());
    EXPECT_EQ(test::child<LocalModelRow>(view, "model-medium")->stateSymbol(), "circle");
}

TEST_F(ModelsListTest, SelectingStoresTheModelBeforeTheEngineRestartsWithIt) {
    const std::string tiny = engine->installModel("tiny");
    const std::string base = engine->installModel("base");
    ModelManager::shared().setActiveModelID("base");
    engine->processes->launches.clear();

    test::child<QPushButton>(test::child<LocalModelRow>(view, "model-tiny"), "useButton")->click();
    EXPECT_EQ(ModelManager::shared().activeModelID(), "tiny");
    EXPECT_EQ(platform::Defaults::shared().string("activeModel"), "tiny");
    EXPECT_EQ(launchedModels(), (std::vector<std::string>{tiny})) << "the relaunch already used the new model";
    EXPECT_TRUE(EngineManager::shared().running());
    // The readiness wait runs on by itself.
    EXPECT_TRUE(test::driveUntil([&] { return engine->server.readinessProbes() > 0; }, 10, 0.1));

    // A tap anywhere on an installed row selects it, the active one included.
    tap(test::child<LocalModelRow>(view, "model-base"));
    EXPECT_EQ(ModelManager::shared().activeModelID(), "base");
    tap(test::child<LocalModelRow>(view, "model-base"));
    EXPECT_EQ(launchedModels(), (std::vector<std::string>{tiny, base, base}));

    // A row whose model is not installed ignores taps.
    tap(test::child<LocalModelRow>(view, "model-medium"));
    EXPECT_EQ(ModelManager::shared().activeModelID(), "base");
    EXPECT_EQ(launchedModels().size(), 3u);

    // With a cloud provider the choice is stored and a running server is stopped.
    AppSettings::shared().setProvider("groq");
    test::child<QPushButton>(test::child<LocalModelRow>(view, "model-tiny"), "useButton")->click();
    EXPECT_EQ(ModelManager::shared().activeModelID(), "tiny");
    EXPECT_FALSE(EngineManager::shared().running());
    EXPECT_EQ(launchedModels().size(), 3u);
}

TEST_F(ModelsListTest, ADownloadShowsItsProgressThenTheEngineStartsWithTheNewModel) {
    host(200, modelBytes(), 300);
    test::child<QPushButton>(test::child<LocalModelRow>(view, "model-base"), "downloadButton")->click();
    ASSERT_EQ(ModelManager::shared().downloading(), "base");
    EXPECT_EQ(control(test::child<LocalModelRow>(view, "model-base")), "progress");
    EXPECT_EQ(test::child<QProgressBar>(test::child<LocalModelRow>(view, "model-base"), "progressBar")->width(), 80);
    // Every other row keeps its download button meanwhile.
    for (LocalModelRow* r : view->rows())
        if (r->model().id != "base") EXPECT_EQ(control(r), "Download " + std::to_string(r->model().sizeMB) + " MB");

    ASSERT_TRUE(test::driveUntil([&] { return !ModelManager::shared().downloading(); }));
    test::driveUntil([] { return false; }, 0.05);
    EXPECT_EQ(server->requests().size(), 1u);
    EXPECT_EQ(server->requests()[0].path, "/models/ggml-base.bin");
    EXPECT_EQ(ModelManager::shared().activeModelID(), "base");
    EXPECT_EQ(control(test::child<LocalModelRow>(view, "model-base")), "");
    EXPECT_FALSE(test::child<QLabel>(test::child<LocalModelRow>(view, "model-base"), "installedMark")->isHidden());
    EXPECT_EQ(launchedModels(), (std::vector<std::string>{ModelManager::shared().modelsDir() + "/ggml-base.bin"}));
}

TEST_F(ModelsListTest, AFailedDownloadIsToldUnderItsRowUntilTheNextAttempt) {
    engine->installModel("tiny");
    ModelManager::shared().setActiveModelID("tiny");
    engine->processes->launches.clear();
    host(404, "Entry not found");
    LocalModelRow* small = test::child<LocalModelRow>(view, "model-small");
    auto* failure = test::child<KestalErrorText>(small, "failureLabel");
    test::child<QPushButton>(small, "downloadButton")->click();
    ASSERT_TRUE(test::driveUntil([&] { return !ModelManager::shared().downloading(); }));
    test::driveUntil([] { return false; }, 0.05);
    EXPECT_EQ(failure->text(), "Download failed: the host answered HTTP 404");
    EXPECT_FALSE(failure->isHidden());
    EXPECT_EQ(control(small), "Download 488 MB");
    EXPECT_EQ(ModelManager::shared().activeModelID(), "tiny");
    EXPECT_TRUE(engine->processes->launches.empty());

    // A cancelled transfer is no failure to tell.
    EXPECT_FALSE(DownloadFailure::text(
        std::make_exception_ptr(platform::HttpError(platform::HttpError::Kind::Cancelled, "127.0.0.1", "cancelled"))));
}

TEST_F(ModelsListTest, AFailedDownloadSaysWhyUntilTheNextOne) {
    host(200, modelBytes().substr(0, 200000));
    LocalModelRow* small = test::child<LocalModelRow>(view, "model-small");
    auto* failure = test::child<KestalErrorText>(small, "failureLabel");
    test::child<QPushButton>(small, "downloadButton")->click();
    ASSERT_TRUE(test::driveUntil([&] { return !failure->isHidden(); }));
    EXPECT_EQ(failure->text(), "Download failed: the file is incomplete");
    EXPECT_EQ(control(small), "Download 488 MB");
    EXPECT_FALSE(ModelManager::shared().installed().count("small"));

    host(200, modelBytes());
    test::child<QPushButton>(small, "downloadButton")->click();
    EXPECT_TRUE(failure->isHidden());
    ASSERT_TRUE(test::driveUntil([&] { return ModelManager::shared().installed().count("small") > 0; }));
    EXPECT_TRUE(failure->isHidden());
}

TEST_F(ModelsListTest, ASecondDownloadWhileOneRunsIsNotTakenForFinished) {
    host(200, modelBytes(), 400);
    test::child<QPushButton>(test::child<LocalModelRow>(view, "model-tiny"), "downloadButton")->click();
    ASSERT_EQ(ModelManager::shared().downloading(), "tiny");
    view->download("small");  // the manager refuses it at once
    ASSERT_TRUE(test::driveUntil([&] { return !ModelManager::shared().downloading(); }));
    test::driveUntil([] { return false; }, 0.05);
    EXPECT_EQ(server->requests().size(), 1u);
    EXPECT_EQ(ModelManager::shared().activeModelID(), "tiny");
    EXPECT_EQ(launchedModels().size(), 1u) << "one restart, for the download that happened";
    EXPECT_EQ(control(test::child<LocalModelRow>(view, "model-small")), "Download 488 MB");
}

}  // namespace
