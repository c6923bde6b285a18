// The recording widget's observable state; its view repaints on changed().
#pragma once

#include "ui/overlay/WidgetState.h"

#include <QObject>

#include <string>

class WidgetModel : public QObject {
    Q_OBJECT
public:
    explicit WidgetModel(QObject* parent = nullptr) : QObject(parent) {}

    const WidgetState& state() const { return state_; }
    float level() const { return level_; }
    double elapsed() const { return elapsed_; }
    const std::string& processingLabel() const { return processingLabel_; }
    double scale() const { return scale_; }

    void setState(const WidgetState& s);
    void setElapsed(double seconds);
    void setProcessingLabel(const std::string& label);
    void setScale(double s);
    // The latest input level as the recorder delivers it, stored unchanged (the waveform clamps).
    void pushLevel(float level);

signals:
    void changed();

private:
    WidgetState state_;
    float level_ = 0;
    double elapsed_ = 0;
    std::string processingLabel_ = "Transcribing\u2026";
    double scale_ = 0.82;
};
