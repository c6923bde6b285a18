// Draws the recording capsule for the model's state: the recording row (gold dot, waveform,
// elapsed time), the processing row (spiral and shimmering label) or the result row (mark and
// message). While it is on screen it repaints at the display's rate; hidden, it draws nothing.
#pragma once

#include "platform/Scheduler.h"

#include <QImage>
#include <QPainterPath>
#include <QPixmap>
#include <QWidget>

#include <memory>
#include <string>

class WidgetModel;

class WidgetView : public QWidget {
    Q_OBJECT
public:
    explicit WidgetView(WidgetModel* model, QWidget* parent = nullptr);
    ~WidgetView() override;

    // Elapsed seconds as "m:ss" (whole seconds, truncated; minutes are not folded into hours).
    static std::string timeString(double elapsed);

    // The capsule's outline and the area its rows are laid out in, in this view's coordinates.
    QRectF capsuleRect() const;
    QRectF contentRect() const;
    QPainterPath capsulePath() const;
    // Where the recording row puts its parts.
    QRectF dotRect() const;
    QRectF waveformRect() const;
    QRectF timeRect() const;

    // Draws everything as it looks at time `t` (seconds on the main queue's clock).
    void paintAt(QPainter& painter, double t);
    // Frames drawn since the view was made (for measurements).
    long framesPainted() const { return framesPainted_; }
    bool isAnimating() const { return frame_.isValid() && !frame_.isCancelled(); }

    static constexpr int waveformBars = 22;
    static constexpr double frameInterval = 1.0 / 60.0;

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    void modelChanged();
    void scheduleFrame();
    void stopFrames();
    double contentOpacity(double t) const;

    WidgetModel* model_;
    int lastKey_ = 0;
    double keyChangedAt_ = 0;
    platform::TimerHandle frame_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    void updateFonts();

    QImage layer_;
    double fontScale_ = 0;
    QFont timeFont_;
    QFont labelFont_;
    QPixmap mark_;
    int markKey_ = -1;
    double markSize_ = 0;
    long framesPainted_ = 0;
};
