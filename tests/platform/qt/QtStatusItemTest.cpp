// The tray icon as panels show it: each state reads on a white panel and on a black one (a good
// part of its pixels stands out by 3:1 or more), and recording is unmistakably red.
#include "platform/qt/QtStatusItem.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

double luminance(const QColor& c) {
    auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The icon at a panel's usual 22 pixels, over a panel of that colour.
QImage onPanel(const std::string& symbol, const QColor& panel) {
    QImage image(22, 22, QImage::Format_RGB32);
    image.fill(panel);
    QPainter p(&image);
    platform::QtStatusItem::icon(symbol).paint(&p, image.rect());
    return image;
}

// The share of the icon's pixels (those that differ from the panel) that stand out by 3:1.
double readableShare(const QImage& image, const QColor& panel) {
    int drawn = 0, readable = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c == panel) continue;
            ++drawn;
            readable += contrast(c, panel) >= 3.0;
        }
    return drawn ? static_cast<double>(readable) / drawn : 0;
}

double redShare(const QImage& image, const QColor& panel) {
    int drawn = 0, red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c == panel) continue;
            ++drawn;
            red += c.red() > 200 && c.green() < 110 && c.blue() < 110;
        }
    return drawn ? static_cast<double>(red) / drawn : 0;
}

TEST(QtStatusItem, TheTrayIconReadsOnLightAndDarkPanelsAndRecordingIsRed) {
    test::reset();
    for (const char* symbol : {"mic", "record.circle.fill", "hourglass"})
        for (const QColor& panel : {QColor(Qt::white), QColor(Qt::black), QColor(0xDC, 0xDA, 0xD5)}) {
            const QImage image = onPanel(symbol, panel);
            EXPECT_GE(readableShare(image, panel), 0.25) << symbol << " on " << panel.name().toStdString();
        }
    EXPECT_GE(redShare(onPanel("record.circle.fill", Qt::white), Qt::white), 0.3);
    EXPECT_GE(redShare(onPanel("record.circle.fill", Qt::black), Qt::black), 0.3);
    EXPECT_EQ(redShare(onPanel("mic", Qt::black), Qt::black), 0);
}

}  // namespace
