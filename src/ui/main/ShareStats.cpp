#include "ui/main/ShareStats.h"

#include "ui/kit/Kestal.h"
#include "ui/kit/KestalCard.h"
#include "ui/main/SavePanel.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>

#include <cmath>

namespace {

constexpr double kPadding = 28;
constexpr double kSpacing = 16;
constexpr double kBoxPadding = 16;
constexpr double kBoxSpacing = 8;
constexpr double kBoxGap = 4;

// Fonts measured in the card's own units, whatever the screen's DPI.
QFont cardFont(double size, QFont::Weight weight) {
    QFont f = Kestal::font(size, weight);
    f.setPixelSize(static_cast<int>(std::lround(size)));
    return f;
}
QFont titleFont() { return cardFont(17, QFont::Bold); }
QFont valueFont() { return cardFont(34, QFont::Bold); }
QFont labelFont() { return cardFont(10, QFont::Normal); }

double boxHeight() {
    return kBoxPadding + QFontMetricsF(valueFont()).height() + kBoxGap + QFontMetricsF(labelFont()).height() +
           kBoxPadding;
}

double cardHeight() {
    return kPadding + QFontMetricsF(titleFont()).height() + kSpacing + boxHeight() + kPadding;
}

QColor white(double alpha) {
    QColor c(255, 255, 255);
    c.setAlphaF(alpha);
    return c;
}

}  // namespace

void ShareStats::statBox(QPainter& p, const QRectF& rect, const QString& value, const QString& label) {
    KestalCard::paintCard(p, rect, 12, white(0.06), Qt::transparent, 0);
    const QRectF inner = rect.adjusted(kBoxPadding, kBoxPadding, -kBoxPadding, -kBoxPadding);
    const double valueHeight = QFontMetricsF(valueFont()).height();
    p.setFont(valueFont());
    p.setPen(Qt::white);
    p.drawText(QRectF(inner.left(), inner.top(), inner.width(), valueHeight), Qt::AlignLeft | Qt::AlignVCenter, value);
    p.setFont(labelFont());
    p.setPen(white(0.5));
    p.drawText(QRectF(inner.left(), inner.top() + valueHeight + kBoxGap, inner.width(),
                      QFontMetricsF(labelFont()).height()),
               Qt::AlignLeft | Qt::AlignVCenter, label);
}

QImage ShareStats::render(const Database::Stats& stats, const QString& wpm) {
    const double height = cardHeight();
    QImage image(static_cast<int>(std::ceil(cardWidth * scale)), static_cast<int>(std::ceil(height * scale)),
                 QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return {};
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient gradient(0, 0, 0, height);
    gradient.setColorAt(0, QColor::fromRgbF(0.1, 0.1, 0.1));
    gradient.setColorAt(1, QColor::fromRgbF(0.04, 0.04, 0.04));
    p.fillRect(QRectF(0, 0, cardWidth, height), gradient);

    const double titleHeight = QFontMetricsF(titleFont()).height();
    p.setFont(titleFont());
    p.setPen(Qt::white);
    p.drawText(QRectF(kPadding, kPadding, cardWidth - 2 * kPadding, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
               "My Wendaro stats");

    const double top = kPadding + titleHeight + kSpacing;
    const double boxWidth = (cardWidth - 2 * kPadding - 2 * kBoxSpacing) / 3;
    const std::pair<QString, QString> boxes[3] = {
        {QString::number(stats.words), "words"},
        {QString::number(stats.count), "recordings"},
        {wpm, "wpm"},
    };
    for (int i = 0; i < 3; ++i)
        statBox(p, QRectF(kPadding + i * (boxWidth + kBoxSpacing), top, boxWidth, boxHeight()), boxes[i].first,
                boxes[i].second);
    p.end();
    return image;
}

QByteArray ShareStats::png(const Database::Stats& stats, const QString& wpm) {
    const QImage image = render(stats, wpm);
    if (image.isNull()) return {};
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return {};
    return data;
}

QString ShareStats::save(const Database::Stats& stats, const QString& wpm, QWidget* parent) {
    const QByteArray data = png(stats, wpm);
    if (data.isEmpty()) return "Could not draw the stats image.";
    const auto path = SavePanel::run(proposedName, parent);
    if (!path) return {};
    return SavePanel::writeAtomically(*path, data);
}
