// The onboarding model step: the recommendation by installed memory, the preselection, the
// action by case, and the download and activation of a model with the engine following.
#include "state/AppSettings.h"
#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
#include "platform/Defaults.h"
#include "platform/Machine.h"
#include "support/Child.h"
#include "support/AsyncWait.h"
#include "support/FakeEngine.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestEnvironment.h"
#include "support/TestModel.h"
#include "ui/kit/KestalErrorText.h"
#include "ui/onboarding/ModelRow.h"
#include "ui/onboarding/ModelStep.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <memory>

namespace {

constexpr std::uint64_t GiB = 1024ull * 1024 * 1024;

std::string modelBytes() { return test::wholeModelBytes('m'); }

class OnboardingModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        engine = std::make_unique<test::FakeEngine>(true, false);
        AppSettings::shared().setProvider("local");
    }
    void TearDown() override {
        step.reset();
        server.reset();
        engine.reset();
    }
    ModelStep& make(std::uint64_t memory = 8 * GiB) {
        step = std::make_unique<ModelStep>([this] { ++finishes; }, memory);
        step->appear();
        return *step;
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
    // The model file the last launched server was given ("" when none was launched).
    std::string launchedModel() const {
        const auto& launches = engine->processes->launches;
        if (launches.empty()) return "";
        const auto& args = launches.back().arguments;
        const auto m = std::find(args.begin(), args.end(), "-m");
        return m != args.end() && m + 1 != args.end() ? *(m + 1) : "";
    }
    static bool shown(QWidget* w) { return !w->isHidden(); }

    std::unique_ptr<test::FakeEngine> engine;
    std::unique_ptr<test::LoopbackHttpServer> server;
    std::unique_ptr<ModelStep> step;
    int finishes = 0;
};

TEST_F(OnboardingModelTest, TheRecommendationFollowsInstalledMemory) {
    EXPECT_EQ(ModelStep::recommendedID(8 * GiB), "small");
    EXPECT_EQ(ModelStep::recommendedID(16 * GiB - 1), "small");
    EXPECT_EQ(ModelStep::recommendedID(16 * GiB), "large-v3-turbo");
    EXPECT_EQ(ModelStep::recommendedID(0), "small") << "memory that cannot be read";
    // The kernel reports less than is installed: a 16 GiB PC reads about 15.5 GiB.
    EXPECT_EQ(platform::Machine::installedMemory(31 * GiB / 2), 16 * GiB);
    EXPECT_EQ(ModelStep::recommendedID(platform::Machine::installedMemory(31 * GiB / 2)), "large-v3-turbo");
    EXPECT_EQ(platform::Machine::installedMemory(77 * GiB / 10), 8 * GiB);
    EXPECT_EQ(ModelStep::recommendedID(platform::Machine::installedMemory(77 * GiB / 10)), "small");
    EXPECT_EQ(platform::Machine::installedMemory(16 * GiB), 16 * GiB);
    EXPECT_EQ(ModelStep::name("medium"), "Medium");
    EXPECT_EQ(ModelStep::name("gigantic"), "gigantic");
    EXPECT_EQ(ModelStep::size("large-v3"), 3100);
    EXPECT_EQ(ModelStep::size("gigantic"), 0);

    // 8 GiB, nothing installed: "small" chosen and badged.
    ModelStep& s = make(8 * GiB);
    EXPECT_EQ(s.selected(), "small");
    ASSERT_EQ(s.rows().size(), 6u);
    for (ModelRow* r : s.rows()) {
        SCOPED_TRACE(r->model().id);
        const bool isSmall = r->model().id == "small";
        EXPECT_EQ(shown(test::child<QLabel>(r, "badge")), isSmall);
        EXPECT_EQ(r->isSelected(), isSmall);
        EXPECT_EQ(r->radioSymbol(), isSmall ? "largecircle.fill.circle" : "circle");
        EXPECT_EQ(test::child<QLabel>(r, "status")->text(), QString::number(r->model().sizeMB) + " MB");
        EXPECT_FALSE(shown(test::child<QLabel>(r, "installedMark")));
    }
    EXPECT_EQ(test::child<QLabel>(test::child<ModelRow>(s, "modelRow.small"), "badge")->text(), "Recommended for this computer");
    EXPECT_EQ(test::child<QPushButton>(s, "downloadButton")->text(), "Download Small (488 MB)");
    EXPECT_TRUE(shown(test::child<QPushButton>(s, "downloadButton")));
    EXPECT_TRUE(shown(test::child<QPushButton>(s, "skipButton")));
    EXPECT_FALSE(shown(test::child<QPushButton>(s, "useButton")));
    EXPECT_FALSE(shown(test::child<QPushButton>(s, "downloadingButton")));

    ModelStep& big = make(32 * GiB);
    EXPECT_EQ(big.selected(), "large-v3-turbo");
    EXPECT_TRUE(shown(test::child<QLabel>(test::child<ModelRow>(big, "modelRow.large-v3-turbo"), "badge")));
    EXPECT_FALSE(shown(test::child<QLabel>(test::child<ModelRow>(big, "modelRow.small"), "badge")));
    EXPECT_EQ(test::child<QPushButton>(big, "downloadButton")->text(), QString::fromUtf8("Download Large v3 Turbo (1550 MB)"));
}

TEST_F(OnboardingModelTest, TheLargestInstalledModelIsPreselectedAndUsingItFinishesAtOnce) {
    engine->installModel("large-v3-turbo");
    const std::string path = engine->installModel("large-v3");
    engine->installModel("base");
    ModelManager::shared().setActiveModelID("base");
    ModelStep& s = make(8 * GiB);
    EXPECT_EQ(s.selected(), "large-v3");
    EXPECT_TRUE(shown(test::child<QPushButton>(s, "useButton")));
    EXPECT_EQ(test::child<QPushButton>(s, "useButton")->text(), QString::fromUtf8("Use Large v3 \u2014 Finish"));
    EXPECT_FALSE(shown(test::child<QPushButton>(s, "downloadButton")));
    EXPECT_FALSE(shown(test::child<QPushButton>(s, "skipButton")));
    EXPECT_EQ(test::child<QLabel>(test::child<ModelRow>(s, "modelRow.large-v3"), "status")->text(), "Ready");
    EXPECT_TRUE(shown(test::child<QLabel>(test::child<ModelRow>(s, "modelRow.large-v3"), "installedMark")));
    EXPECT_TRUE(shown(test::child<QLabel>(test::child<ModelRow>(s, "modelRow.small"), "badge"))) << "the badge stays with the recommendation";

    // Picking a model that is not on disk offers its download; an installed one, its use.
    test::child<ModelRow>(s, "modelRow.medium")->click();
    EXPECT_EQ(s.selected(), "medium");
    EXPECT_TRUE(shown(test::child<QPushButton>(s, "downloadButton")));
    EXPECT_FALSE(shown(test::child<QPushButton>(s, "useButton")));
    test::child<ModelRow>(s, "modelRow.large-v3")->click();
    ASSERT_TRUE(shown(test::child<QPushButton>(s, "useButton")));

    // The active model is stored before the engine restarts, so the server starts with it;
    // the step is done without waiting for the server to be ready.
    test::child<QPushButton>(s, "useButton")->click();
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(ModelManager::shared().activeModelID(), "large-v3");
    EXPECT_EQ(platform::Defaults::shared().string("activeModel"), "large-v3");
    ASSERT_EQ(engine->processes->launches.size(), 1u);
    EXPECT_EQ(launchedModel(), path);
    EXPECT_EQ(engine->server.readinessProbes(), 0u);
    // The readiness wait runs on by itself.
    EXPECT_TRUE(test::driveUntil([&] { return engine->server.readinessProbes() > 0; }, 10, 0.1));
    EXPECT_EQ(AppSettings::shared().provider(), "local");
}

TEST_F(OnboardingModelTest, WithACloudProviderTheModelOnlyBecomesActive) {
    AppSettings::shared().setProvider("tovrin");
    engine->installModel("tiny");
    ModelStep& s = make();
    ASSERT_EQ(s.selected(), "tiny");
    s.activateAndFinish();
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(ModelManager::shared().activeModelID(), "tiny");
    EXPECT_TRUE(engine->processes->launches.empty());
    EXPECT_FALSE(EngineManager::shared().running());
    EXPECT_EQ(AppSettings::shared().provider(), "tovrin");
}

TEST_F(OnboardingModelTest, ADownloadedModelBecomesActiveEvenWhenAnotherRowWasPickedMeanwhile) {
    host(200, modelBytes(), 300);
    ModelStep& s = make();
    test::child<ModelRow>(s, "modelRow.base")->click();
    test::child<QPushButton>(s, "downloadButton")->click();
    ASSERT_EQ(ModelManager::shared().downloading(), "base");
    EXPECT_TRUE(shown(test::child<QPushButton>(s, "downloadingButton")));
    EXPECT_FALSE(test::child<QPushButton>(s, "downloadingButton")->isEnabled());
    EXPECT_EQ(test::child<QPushButton>(s, "downloadingButton")->text(), QString::fromUtf8("Downloading\u2026"));
    EXPECT_FALSE(shown(test::child<QPushButton>(s, "downloadButton")));
    EXPECT_FALSE(shown(test::child<QPushButton>(s, "skipButton")));
    EXPECT_TRUE(shown(test::child<QProgressBar>(test::child<ModelRow>(s, "modelRow.base"), "progressBar")));
    EXPECT_FALSE(shown(test::child<QProgressBar>(test::child<ModelRow>(s, "modelRow.small"), "progressBar")));

    // Rows stay selectable while the file comes in.
    test::child<ModelRow>(s, "modelRow.tiny")->click();
    EXPECT_EQ(s.selected(), "tiny");
    EXPECT_TRUE(shown(test::child<QPushButton>(s, "downloadingButton")));

    ASSERT_TRUE(test::driveUntil([&] { return finishes > 0; }));
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(server->requests().size(), 1u);
    EXPECT_EQ(server->requests()[0].path, "/models/ggml-base.bin");
    EXPECT_EQ(ModelManager::shared().activeModelID(), "base");
    ASSERT_EQ(engine->processes->launches.size(), 1u);
    EXPECT_EQ(launchedModel(), ModelManager::shared().modelsDir() + "/ggml-base.bin");
    EXPECT_FALSE(s.errorText());
}

TEST_F(OnboardingModelTest, AFailedDownloadShowsWhyAndOffersTheDownloadAgain) {
    // The host cuts the file short and announces only what it sends.
    host(200, modelBytes().substr(0, 300000));
    ModelStep& s = make();
    test::child<QPushButton>(s, "downloadButton")->click();
    ASSERT_TRUE(test::driveUntil([&] { return !ModelManager::shared().downloading(); }));
    ASSERT_TRUE(test::driveUntil([&] { return s.errorText().has_value(); }));
    EXPECT_EQ(s.errorText(), "Download failed: the file is incomplete");
    EXPECT_EQ(test::child<KestalErrorText>(s, "errorLabel")->text(), "Download failed: the file is incomplete");
    EXPECT_TRUE(shown(test::child<KestalErrorText>(s, "errorLabel")));
    EXPECT_TRUE(shown(test::child<QPushButton>(s, "downloadButton")));
    EXPECT_TRUE(shown(test::child<QPushButton>(s, "skipButton")));
    EXPECT_EQ(finishes, 0);
    EXPECT_TRUE(engine->processes->launches.empty());

    // A new attempt clears the message; this time it works.
    host(200, modelBytes(), 200);
    test::child<QPushButton>(s, "downloadButton")->click();
    EXPECT_FALSE(s.errorText());
    EXPECT_FALSE(shown(test::child<KestalErrorText>(s, "errorLabel")));
    ASSERT_TRUE(test::driveUntil([&] { return finishes > 0; }));
    EXPECT_EQ(ModelManager::shared().activeModelID(), "small");
}

TEST_F(OnboardingModelTest, ADownloadRunningElsewhereNeitherFinishesNorActivatesTheChoice) {
    host(200, modelBytes(), 400);
    ModelStep& s = make();
    auto other = test::startTask(ModelManager::shared().download(*ModelManager::model("tiny")));
    EXPECT_TRUE(shown(test::child<QPushButton>(s, "downloadingButton")));
    EXPECT_TRUE(shown(test::child<QProgressBar>(test::child<ModelRow>(s, "modelRow.tiny"), "progressBar")));
    // Even asked directly, the step does not take the manager's early return for success.
    s.downloadSelected();
    ASSERT_TRUE(test::driveUntil([&] { return other->done; }));
    test::driveUntil([] { return false; }, 0.1);
    EXPECT_EQ(finishes, 0);
    EXPECT_EQ(ModelManager::shared().activeModelID(), "tiny");
    EXPECT_TRUE(engine->processes->launches.empty());
    EXPECT_TRUE(shown(test::child<QPushButton>(s, "downloadButton"))) << "small is still to be downloaded";
}

TEST_F(OnboardingModelTest, SkipFinishesWithoutTouchingTheModelOrTheEngine) {
    engine->installModel("tiny");
    ModelManager::shared().setActiveModelID("tiny");
    ModelStep& s = make();
    test::child<ModelRow>(s, "modelRow.small")->click();
    test::child<QPushButton>(s, "skipButton")->click();
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(ModelManager::shared().activeModelID(), "tiny");
    EXPECT_TRUE(engine->processes->launches.empty());
}

}  // namespace
