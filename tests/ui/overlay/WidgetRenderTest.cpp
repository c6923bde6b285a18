// Renders the widget's recording, processing and result states at the three sizes offscreen,
// writes them as PNG files (widget-renders/ in the working folder) and checks the key pixels.
#include "state/AppSettings.h"
#include "platform/Paths.h"
#include "support/TestEnvironment.h"
#include "ui/kit/Kestal.h"
#include "ui/overlay/FloatingWidget.h"
#include "ui/overlay/ScreenLayout.h"
#include "ui/overlay/WidgetModel.h"
#include "ui/overlay/WidgetView.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QWidget>

#include <cmath>
#include <functional>

namespace {

struct Size {
    const char* name;
    double scale;
    QSize pixels;
};
const Size kSizes[] = {{"small", 0.78, {200, 58}}, {"medium", 0.92, {233, 66}}, {"large", 1.05, {264, 73}}};

bool near(QColor a, QColor b, int tolerance = 24) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance && a.alpha() > 230;
}

// Counts pixels in `r` for which `pred` holds.
int count(const QImage& img, const QRect& r, const std::function<bool(QColor)>& pred) {
    int n = 0;
    for (int y = std::max(0, r.top()); y <= std::min(img.height() - 1, r.bottom()); ++y)
        for (int x = std::max(0, r.left()); x <= std::min(img.width() - 1, r.right()); ++x)
            if (pred(img.pixelColor(x, y))) ++n;
    return n;
}

bool isBlueish(QColor c) { return c.alpha() > 60 && c.blue() > c.red() + 40 && c.blue() > 120; }
bool isGoldish(QColor c) { return c.alpha() > 60 && c.red() > 150 && c.green() > 110 && c.blue() < c.red() - 60; }

class WidgetRenderTest : public ::testing::TestWithParam<Size> {
protected:
    void SetUp() override {
        test::reset();
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
        ScreenLayout::setProvider([] {
            ScreenLayout l;
            l.mainAvailable = ScreenLayout::Rect{0, 0, 1280, 800};
            l.frames = {ScreenLayout::Rect{0, 0, 1280, 800}};
            return l;
        });
        AppSettings::shared().setWidgetSize(GetParam().name);
        QDir().mkpath("widget-renders");
    }
    void TearDown() override { ScreenLayout::setProvider({}); }

    // Lets the change animation finish, then grabs the window as it is drawn on screen.
    QImage shoot(FloatingWidget& w, const std::string& state) {
        test::fakes().scheduler.advance(0.5);
        QImage img = w.window()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        img.save(QString("widget-renders/%1-%2.png").arg(QString::fromStdString(state), GetParam().name));
        return img;
    }
    WidgetView* view(FloatingWidget& w) { return w.window()->findChild<WidgetView*>(); }
};

TEST_P(WidgetRenderTest, Recording) {
    FloatingWidget w;
    w.showRecording();
    w.pushLevel(1.0f);
    const QImage img = shoot(w, "recording");
    ASSERT_EQ(img.size(), GetParam().pixels);
    WidgetView* v = view(w);
    ASSERT_NE(v, nullptr);

    // Outside the capsule stays clear; inside it is the background colour.
    EXPECT_EQ(img.pixelColor(0, 0).alpha(), 0);
    const QRectF capsule = v->capsuleRect();
    EXPECT_TRUE(near(img.pixelColor(int(capsule.center().x()), int(capsule.top() + 3)), Kestal::bg, 6));

    // The gold dot.
    const QPointF dot = v->dotRect().center();
    EXPECT_TRUE(near(img.pixelColor(dot.toPoint()), Kestal::gold)) << img.pixelColor(dot.toPoint()).name().toStdString();

    // Bars: coloured pixels inside the waveform frame, none above or below the capsule.
    const QRect wave = v->waveformRect().toAlignedRect();
    const QRect middle = wave.adjusted(wave.width() / 4, 0, -wave.width() / 4, 0);
    EXPECT_GT(count(img, middle, isBlueish), 10);
    EXPECT_GT(count(img, middle, isGoldish), 10);
    const int capTop = int(std::floor(capsule.top())), capBottom = int(std::ceil(capsule.bottom()));
    EXPECT_EQ(count(img, QRect(wave.left(), 0, wave.width(), capTop), [](QColor c) { return c.alpha() > 0; }), 0);
    EXPECT_EQ(count(img, QRect(wave.left(), capBottom, wave.width(), img.height() - capBottom),
                    [](QColor c) { return c.alpha() > 0; }),
              0);
    EXPECT_GE(wave.top(), capTop);
    EXPECT_LE(wave.bottom(), capBottom);
    // The outermost bars are faded out by the mask: nothing bright at the very ends.
    EXPECT_EQ(count(img, QRect(wave.left(), wave.top(), 1, wave.height()), [](QColor c) { return isBlueish(c) || isGoldish(c); }), 0);
    // The counter reads 0:00 in dim white at the right.
    EXPECT_GT(count(img, v->timeRect().toAlignedRect(), [](QColor c) { return c.red() > 90 && std::abs(c.red() - c.blue()) < 12; }), 3);
}

TEST_P(WidgetRenderTest, Processing) {
    FloatingWidget w;
    w.showProcessing();
    const QImage img = shoot(w, "processing");
    ASSERT_EQ(img.size(), GetParam().pixels);
    // The spinner's two colours and the label's light text sit in the content area.
    const QRect content = view(w)->contentRect().toAlignedRect();
    EXPECT_GT(count(img, content, isBlueish), 5);
    EXPECT_GT(count(img, content, isGoldish), 5);
    EXPECT_GT(count(img, content, [](QColor c) { return c.red() > 200 && c.green() > 200 && c.blue() > 200; }), 10);
    EXPECT_EQ(img.pixelColor(0, 0).alpha(), 0);
}

TEST_P(WidgetRenderTest, Done) {
    FloatingWidget w;
    w.flashResult("Inserted \u2713", true);
    const QImage ok = shoot(w, "done-ok");
    ASSERT_EQ(ok.size(), GetParam().pixels);
    const QRect content = view(w)->contentRect().toAlignedRect();
    EXPECT_GT(count(ok, content, [](QColor c) { return near(c, Kestal::gold); }), 10) << "the gold check mark";

    w.flashResult("Transcription failed", false);
    const QImage fail = shoot(w, "done-failed");
    EXPECT_GT(count(fail, content, [](QColor c) { return near(c, Kestal::orange); }), 10) << "the orange warning";
    EXPECT_EQ(count(fail, content, [](QColor c) { return near(c, Kestal::gold, 8); }), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WidgetRenderTest, ::testing::ValuesIn(kSizes),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
