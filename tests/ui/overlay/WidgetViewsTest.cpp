// The drawn parts of the recording widget: bar heights and widths, the time text, the spinner's
// arms and the shimmer's sweep.
#include "support/TestEnvironment.h"
#include "ui/overlay/ShimmerText.h"
#include "ui/overlay/TrypillianSpiral.h"
#include "ui/overlay/Waveform.h"
#include "ui/overlay/WidgetModel.h"
#include "ui/overlay/WidgetView.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace {

TEST(Waveform, BarHeightFollowsTheClampedLevel) {
    const double t = 12.345, maxH = 40;
    for (int i = 0; i < 22; ++i) {
        const double quiet = Waveform(0.12f, 22).barHeight(i, t, maxH);
        EXPECT_DOUBLE_EQ(Waveform(0.0f, 22).barHeight(i, t, maxH), quiet) << i;
        EXPECT_DOUBLE_EQ(Waveform(-3.0f, 22).barHeight(i, t, maxH), quiet) << i;
        EXPECT_DOUBLE_EQ(Waveform(std::numeric_limits<float>::quiet_NaN(), 22).barHeight(i, t, maxH), quiet) << i;
        EXPECT_DOUBLE_EQ(Waveform(5.0f, 22).barHeight(i, t, maxH), Waveform(1.0f, 22).barHeight(i, t, maxH)) << i;
    }
    // The formula itself, for one middle bar at a known time.
    const int i = 7;
    const double wave = 0.5 + 0.5 * std::sin(6 * t - 0.55 * i);
    const double env = std::sin(std::numbers::pi * i / 21);
    EXPECT_NEAR(Waveform(0.5f, 22).barHeight(i, t, maxH), maxH * (0.62 + 0.38 * 0.5) * (0.34 + 0.66 * env * wave), 1e-9);
    EXPECT_NEAR(Waveform(1.0f, 22).barHeight(i, t, maxH), maxH * (0.34 + 0.66 * env * wave), 1e-9);
}

TEST(Waveform, EndBarsKeepAThirdOfTheLevelHeightAndNeverDropBelowThreePoints) {
    for (double t : {0.0, 0.4, 1.7, 100.25}) {
        for (float lv : {0.0f, 0.5f, 1.0f}) {
            const Waveform w(lv, 22);
            const double expected = 40 * 0.34 * (0.62 + 0.38 * w.effectiveLevel());
            EXPECT_NEAR(w.barHeight(0, t, 40), expected, 1e-9);
            EXPECT_NEAR(w.barHeight(21, t, 40), expected, 1e-9);
        }
    }
    EXPECT_DOUBLE_EQ(Waveform(0.0f, 22).barHeight(0, 0, 4), 3.0);
    // In silence the middle bars swing up to about two thirds of the height.
    double highest = 0;
    for (double t = 0; t < 2; t += 0.001) highest = std::max(highest, Waveform(0.0f, 22).barHeight(10, t, 100) / 100);
    EXPECT_NEAR(highest, (0.62 + 0.38 * 0.12) * (0.34 + 0.66 * std::sin(std::numbers::pi * 10 / 21)), 1e-5);
}

TEST(Waveform, BarWidthsAtTheThreeSizes) {
    const Waveform w(0.f, 22);
    EXPECT_NEAR(w.barWidth(139 * 0.78), (108.42 - 63) / 22, 1e-9);
    EXPECT_NEAR(w.barWidth(139 * 0.78), 2.06, 0.01);
    EXPECT_NEAR(w.barWidth(139 * 0.92), 2.95, 0.01);
    EXPECT_NEAR(w.barWidth(139 * 1.05), 3.77, 0.01);
    EXPECT_DOUBLE_EQ(w.barWidth(10), 2.0);
    // Bars are laid out 3 points apart, centred in the frame.
    const QRectF frame(0, 0, 139 * 1.05, 40);
    const QRectF first = w.barRect(0, 0, frame), second = w.barRect(1, 0, frame), last = w.barRect(21, 0, frame);
    EXPECT_NEAR(second.left() - first.right(), 3, 1e-9);
    EXPECT_NEAR(first.left(), frame.right() - last.right(), 1e-9);
}

TEST(WidgetView, TimeStringTruncatesToWholeSecondsAndDoesNotFoldHours) {
    EXPECT_EQ(WidgetView::timeString(0), "0:00");
    EXPECT_EQ(WidgetView::timeString(59.99), "0:59");
    EXPECT_EQ(WidgetView::timeString(60.0), "1:00");
    EXPECT_EQ(WidgetView::timeString(65.9), "1:05");
    EXPECT_EQ(WidgetView::timeString(4500), "75:00");
    EXPECT_EQ(WidgetView::timeString(-3.5), "0:00");
    EXPECT_EQ(WidgetView::timeString(std::nan("")), "0:00");
}

TEST(WidgetView, RecordingRowGivesTheWaveformWhatIsLeft) {
    for (double s : {0.78, 0.92, 1.05}) {
        WidgetModel model;
        model.setScale(s);
        WidgetView view(&model);
        view.resize(static_cast<int>(std::ceil(240 * s + 12)), static_cast<int>(std::ceil(58 * s + 12)));
        EXPECT_NEAR(view.capsuleRect().width(), 240 * s, 1e-9);
        EXPECT_NEAR(view.contentRect().width(), 204 * s, 1e-9);
        EXPECT_NEAR(view.waveformRect().width(), 139 * s, 1e-9);
        EXPECT_NEAR(view.waveformRect().height(), 40 * s, 1e-9);
        EXPECT_NEAR(view.dotRect().width(), 9 * s, 1e-9);
        EXPECT_NEAR(view.timeRect().width(), 34 * s, 1e-9);
    }
}

TEST(TrypillianSpiral, ArmsWindOutwardsFromTheCentre) {
    const double s = 0.92;
    const TrypillianSpiral spiral(s);
    EXPECT_DOUBLE_EQ(spiral.side(), 21 * s);
    const QSizeF canvas(spiral.side(), spiral.side());
    const QPolygonF blue = spiral.arm(0, 0, canvas);
    ASSERT_EQ(blue.size(), 69);
    const QPointF c(canvas.width() / 2, canvas.height() / 2);
    auto radius = [&](QPointF p) { return std::hypot(p.x() - c.x(), p.y() - c.y()); };
    EXPECT_NEAR(radius(blue.first()), 1.2 * s, 1e-9);
    EXPECT_NEAR(blue.first().x(), c.x() + 1.2 * s, 1e-9);  // angle 0 at t = 0
    const double r1 = canvas.width() / 2 - 1.6 * s;
    EXPECT_NEAR(radius(blue.last()), 1.2 * s + (r1 - 1.2 * s) * (68 * 0.07) / 4.8, 1e-6);
    for (int k = 1; k < blue.size(); ++k) EXPECT_GT(radius(blue[k]), radius(blue[k - 1]));
    // The second arm is the first turned half way round; time turns both by 1.9 rad/s.
    const QPolygonF gold = spiral.arm(std::numbers::pi, 0, canvas);
    EXPECT_NEAR(gold[10].x() - c.x(), -(blue[10].x() - c.x()), 1e-9);
    const QPolygonF later = spiral.arm(0, 1.0, canvas);
    const double a0 = std::atan2(blue[0].y() - c.y(), blue[0].x() - c.x());
    const double a1 = std::atan2(later[0].y() - c.y(), later[0].x() - c.x());
    EXPECT_NEAR(a1 - a0, 1.9, 1e-9);
    // y grows downwards: a small positive step of the angle moves the point down (clockwise on screen).
    EXPECT_GT(blue[1].y(), c.y());
}

TEST(ShimmerText, BandSweepsInOnePointThreeSecondsAndStartsAgain) {
    EXPECT_DOUBLE_EQ(ShimmerText::phase(0), -0.7);
    EXPECT_NEAR(ShimmerText::phase(0.65), 0.2, 1e-9);
    EXPECT_NEAR(ShimmerText::phase(1.3 - 1e-9), 1.1, 1e-6);
    EXPECT_NEAR(ShimmerText::phase(1.3), -0.7, 1e-9);
    EXPECT_NEAR(ShimmerText::phase(2.6 + 0.65), 0.2, 1e-9);
}

TEST(ShimmerText, LongMessagesAreCutToTheWidth) {
    const ShimmerText text(QString(200, 'W'), 13);
    EXPECT_LE(text.width(150), 150);
    const ShimmerText shortText("OK", 13);
    EXPECT_LT(shortText.width(150), 60);
}

}  // namespace
