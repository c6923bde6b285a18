// A small indeterminate progress indicator: twelve spokes, one highlighted turn after turn,
// animated on the main queue's clock while it is shown.
#pragma once

#include "platform/Scheduler.h"

#include <QColor>
#include <QWidget>

#include <memory>

class ActivitySpinner : public QWidget {
    Q_OBJECT
public:
    explicit ActivitySpinner(QColor color, double size = 16, QWidget* parent = nullptr);
    ~ActivitySpinner() override;

    QSize sizeHint() const override;
    int phase() const { return phase_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    void scheduleFrame();

    QColor color_;
    double size_;
    int phase_ = 0;
    platform::TimerHandle frame_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
