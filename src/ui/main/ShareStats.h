// The "Share stats" image: a small dark card with the words, recordings and pace figures,
// rendered at three times its 520-point width and saved as PNG where the user chooses.
#pragma once

#include "state/Database.h"

#include <QByteArray>
#include <QImage>
#include <QString>

class QPainter;
class QRectF;
class QWidget;

class ShareStats {
public:
    ShareStats() = delete;

    static constexpr double cardWidth = 520;
    static constexpr double scale = 3;
    static constexpr const char* proposedName = "wendaro-stats.png";

    // Renders, asks where to save ("wendaro-stats.png" proposed) and writes the PNG there.
    // Answers what the page tells the user when that failed (empty when saved or cancelled).
    static QString save(const Database::Stats& stats, const QString& wpm, QWidget* parent = nullptr);

    // The card as an image (1560 pixels wide, device pixel ratio 3).
    static QImage render(const Database::Stats& stats, const QString& wpm);
    // The rendered card encoded as PNG (empty when encoding fails).
    static QByteArray png(const Database::Stats& stats, const QString& wpm);

private:
    // Draws one figure box (value above label) into `rect`.
    static void statBox(QPainter& p, const QRectF& rect, const QString& value, const QString& label);
};
