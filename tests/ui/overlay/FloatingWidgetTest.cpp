// The recording widget's controller: sizes, placement, the recording timer and the flash's hide.
#include "state/AppSettings.h"
#include "platform/Paths.h"
#include "support/TestEnvironment.h"
#include "ui/overlay/FloatingWidget.h"
#include "ui/overlay/ScreenLayout.h"
#include "ui/overlay/WidgetModel.h"
#include "ui/overlay/WidgetView.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QWidget>

#include <cmath>

namespace {

using Rect = ScreenLayout::Rect;

class FloatingWidgetTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
        // One 1920 × 1080 screen with a 40-point panel at the bottom, and a second one to its right.
        layout.mainAvailable = Rect{0, 0, 1920, 1040};
        layout.frames = {Rect{0, 0, 1920, 1080}, Rect{1920, 0, 1280, 1024}};
        ScreenLayout::setProvider([this] { return layout; });
    }
    void TearDown() override { ScreenLayout::setProvider({}); }

    double storedX() { return std::get<double>(*test::fakes().defaults.object("widgetOriginX")); }
    double storedY() { return std::get<double>(*test::fakes().defaults.object("widgetOriginY")); }
    void saveOrigin(double x, double y) {
        test::fakes().defaults.setDouble("widgetOriginX", x);
        test::fakes().defaults.setDouble("widgetOriginY", y);
    }
    void advance(double s) { test::fakes().scheduler.advance(s); }

    ScreenLayout layout;
};

TEST_F(FloatingWidgetTest, SizesFollowTheSettingAtTheNextShow) {
    EXPECT_DOUBLE_EQ(FloatingWidget::scaleFor("small"), 0.78);
    EXPECT_DOUBLE_EQ(FloatingWidget::scaleFor("medium"), 0.92);
    EXPECT_DOUBLE_EQ(FloatingWidget::scaleFor("large"), 1.05);
    EXPECT_DOUBLE_EQ(FloatingWidget::scaleFor("huge"), 0.78);
    EXPECT_NEAR(FloatingWidget::contentSize(0.78).width, 199.2, 1e-9);
    EXPECT_NEAR(FloatingWidget::contentSize(0.78).height, 57.24, 1e-9);
    EXPECT_NEAR(FloatingWidget::contentSize(0.92).width, 232.8, 1e-9);
    EXPECT_NEAR(FloatingWidget::contentSize(0.92).height, 65.36, 1e-9);
    EXPECT_NEAR(FloatingWidget::contentSize(1.05).width, 264, 1e-9);
    EXPECT_NEAR(FloatingWidget::contentSize(1.05).height, 72.9, 1e-9);

    FloatingWidget w;
    EXPECT_EQ(w.window(), nullptr) << "no window before the first show";
    EXPECT_DOUBLE_EQ(w.model().scale(), 0.82);
    w.showRecording();
    ASSERT_NE(w.window(), nullptr);
    EXPECT_DOUBLE_EQ(w.model().scale(), 0.78);
    EXPECT_EQ(w.window()->size(), QSize(200, 58));

    AppSettings::shared().setWidgetSize("large");
    EXPECT_EQ(w.window()->size(), QSize(200, 58)) << "a visible capsule keeps its size";
    w.flashResult("Inserted \u2713", true);
    EXPECT_DOUBLE_EQ(w.model().scale(), 1.05);
    EXPECT_EQ(w.window()->size(), QSize(264, 73));
}

TEST_F(FloatingWidgetTest, FirstShowIsCentredAboveTheBottomAndStoresTheOrigin) {
    FloatingWidget w;
    w.showRecording();
    ASSERT_TRUE(w.isShown());
    const QPoint expected(static_cast<int>(std::lround(960 - 200 / 2.0)), 1040 - 28 - 58);
    EXPECT_EQ(w.window()->pos(), expected);
    EXPECT_DOUBLE_EQ(storedX(), expected.x());
    EXPECT_DOUBLE_EQ(storedY(), expected.y());
}

TEST_F(FloatingWidgetTest, SavedOriginIsKeptWhileAnyScreenShowsPartOfIt) {
    {
        saveOrigin(300, 200);
        FloatingWidget w;
        w.showProcessing();
        EXPECT_EQ(w.window()->pos(), QPoint(300, 200));
    }
    {
        // On the second screen.
        saveOrigin(2500, 700);
        FloatingWidget w;
        w.showProcessing();
        EXPECT_EQ(w.window()->pos(), QPoint(2500, 700));
    }
    {
        // Overlapping the second screen's right edge by a single point.
        saveOrigin(1920 + 1280 - 1, 100);
        FloatingWidget w;
        w.showProcessing();
        EXPECT_EQ(w.window()->pos(), QPoint(3199, 100));
    }
    {
        // Touching the edge without overlapping is off screen.
        saveOrigin(1920 + 1280, 100);
        FloatingWidget w;
        w.showProcessing();
        EXPECT_EQ(w.window()->pos(), QPoint(860, 954));
    }
}

TEST_F(FloatingWidgetTest, OriginOnADisconnectedScreenFallsBackToTheDefault) {
    saveOrigin(2500, 700);
    layout.frames.pop_back();
    FloatingWidget w;
    w.showRecording();
    EXPECT_EQ(w.window()->pos(), QPoint(860, 954));
    EXPECT_DOUBLE_EQ(storedX(), 860);
    EXPECT_DOUBLE_EQ(storedY(), 954);
}

TEST_F(FloatingWidgetTest, UnreadableSavedOriginFallsBackToTheDefault) {
    saveOrigin(std::nan(""), 100);
    FloatingWidget w;
    w.showRecording();
    EXPECT_EQ(w.window()->pos(), QPoint(860, 954));
    // A value that is not a number reads as 0, as any stored number does.
    test::fakes().defaults.setString("widgetOriginX", "left");
    w.showRecording();
    EXPECT_EQ(w.window()->pos(), QPoint(0, 954));
}

TEST_F(FloatingWidgetTest, OnlyTheXKeyDecidesWhetherAnOriginIsSaved) {
    test::fakes().defaults.setDouble("widgetOriginX", 400);
    FloatingWidget w;
    w.showRecording();
    EXPECT_EQ(w.window()->pos(), QPoint(400, 0));
}

TEST_F(FloatingWidgetTest, WithoutAScreenTheStateChangesButNothingIsShownOrStored) {
    layout = ScreenLayout{};
    FloatingWidget w;
    w.showRecording();
    EXPECT_EQ(w.model().state(), WidgetState::recording());
    EXPECT_FALSE(w.isShown());
    EXPECT_FALSE(test::fakes().defaults.object("widgetOriginX").has_value());
    w.flashResult("Cancelled", false);
    EXPECT_EQ(w.model().state(), WidgetState::done("Cancelled", false));
    advance(1.5);
    EXPECT_EQ(w.model().state(), WidgetState::hidden());
}

TEST_F(FloatingWidgetTest, DraggingStoresTheNewOrigin) {
    FloatingWidget w;
    w.showRecording();
    w.window()->move(123, 456);
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(storedX(), 123);
    EXPECT_DOUBLE_EQ(storedY(), 456);
    w.hide();
    w.showRecording();
    EXPECT_EQ(w.window()->pos(), QPoint(123, 456));
}

TEST_F(FloatingWidgetTest, RecordingCountsElapsedTimeAndResetsLevel) {
    FloatingWidget w;
    w.pushLevel(0.7f);
    w.showRecording();
    EXPECT_EQ(w.model().level(), 0.0f);
    EXPECT_EQ(w.model().elapsed(), 0.0);
    w.pushLevel(5.0f);
    EXPECT_EQ(w.model().level(), 5.0f) << "stored unchanged; the waveform clamps";
    advance(0.35);
    EXPECT_NEAR(w.model().elapsed(), 0.3, 1e-9);
    advance(65.6);
    EXPECT_NEAR(w.model().elapsed(), 65.9, 1e-6);
    EXPECT_EQ(WidgetView::timeString(w.model().elapsed()), "1:05");

    // Processing stops the counter; a new recording starts again from zero.
    w.showProcessing();
    const double frozen = w.model().elapsed();
    advance(2);
    EXPECT_EQ(w.model().elapsed(), frozen);
    EXPECT_EQ(w.model().processingLabel(), "Transcribing\u2026");
    w.showEnhancing();
    EXPECT_EQ(w.model().processingLabel(), "Enhancing\u2026");
    EXPECT_EQ(w.model().state(), WidgetState::processing());
    w.showRecording();
    EXPECT_EQ(w.model().elapsed(), 0.0);
    advance(0.1);
    EXPECT_NEAR(w.model().elapsed(), 0.1, 1e-9);
}

TEST_F(FloatingWidgetTest, FlashHidesItselfAfterOneAndAHalfSeconds) {
    FloatingWidget w;
    w.flashResult("Inserted \u2713", true);
    EXPECT_TRUE(w.isShown());
    EXPECT_EQ(w.model().state(), WidgetState::done("Inserted \u2713", true));
    advance(1.49);
    EXPECT_TRUE(w.isShown());
    advance(0.02);
    EXPECT_FALSE(w.isShown());
    EXPECT_EQ(w.model().state(), WidgetState::hidden());
}

TEST_F(FloatingWidgetTest, RecordingWithinTheFlashStaysVisible) {
    FloatingWidget w;
    w.flashResult("Cancelled", false);
    advance(1.0);
    w.showRecording();
    advance(1.0);
    EXPECT_TRUE(w.isShown());
    EXPECT_EQ(w.model().state(), WidgetState::recording());
    EXPECT_GT(w.model().elapsed(), 0.85) << "the counter keeps running";
}

TEST_F(FloatingWidgetTest, SecondFlashGetsItsFullTime) {
    FloatingWidget w;
    w.flashResult("Transcription failed", false);
    advance(1.0);
    w.flashResult("Copied \u2713", true);
    advance(1.0);  // past the first flash's deadline
    EXPECT_TRUE(w.isShown());
    EXPECT_EQ(w.model().state(), WidgetState::done("Copied \u2713", true));
    advance(0.49);
    EXPECT_TRUE(w.isShown());
    advance(0.02);
    EXPECT_FALSE(w.isShown());
}

TEST_F(FloatingWidgetTest, HideStopsEverythingAndIsHarmlessWhenHidden) {
    FloatingWidget w;
    w.hide();
    EXPECT_EQ(w.window(), nullptr);
    w.showRecording();
    advance(0.5);
    w.hide();
    EXPECT_FALSE(w.isShown());
    const double elapsed = w.model().elapsed();
    advance(1);
    EXPECT_EQ(w.model().elapsed(), elapsed) << "the timer stopped";
    w.hide();
    EXPECT_EQ(w.model().state(), WidgetState::hidden());
}

TEST_F(FloatingWidgetTest, AnimatesOnlyWhileVisible) {
    FloatingWidget w;
    w.showRecording();
    auto* view = w.window()->findChild<WidgetView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isAnimating());
    w.hide();
    EXPECT_FALSE(view->isAnimating());
    const std::size_t pending = test::fakes().scheduler.pendingCount();
    advance(1);
    EXPECT_LE(test::fakes().scheduler.pendingCount(), pending) << "no frames are requested while hidden";
    w.showProcessing();
    EXPECT_TRUE(view->isAnimating());
}

TEST(WidgetState, EqualityComparesMessageAndFlagOnlyForDone) {
    EXPECT_EQ(WidgetState::done("a", true), WidgetState::done("a", true));
    EXPECT_NE(WidgetState::done("a", true), WidgetState::done("a", false));
    EXPECT_NE(WidgetState::done("a", true), WidgetState::done("b", true));
    EXPECT_NE(WidgetState::recording(), WidgetState::processing());
    EXPECT_EQ(WidgetState::done("x", true).animationKey(), 3);
    EXPECT_EQ(WidgetState::done("y", false).animationKey(), 4);
    EXPECT_EQ(WidgetState::hidden().animationKey(), 0);
}

}  // namespace
