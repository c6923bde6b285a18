// The floating recording widget: a small capsule above every window on every workspace that
// shows the live level and elapsed time while recording, progress while the audio is processed,
// and a short result message that goes away by itself 1.5 s later. It never takes keyboard
// focus. Its position is kept in "widgetOriginX"/"widgetOriginY" whenever it moves.
//
// Constructing one is cheap: the window is made on the first show.
#pragma once

#include "dictation/RecordingWidget.h"

#include <memory>
#include <string>

class QWidget;
class WidgetModel;

class FloatingWidget : public RecordingWidget {
public:
    FloatingWidget();
    ~FloatingWidget() override;
    FloatingWidget(const FloatingWidget&) = delete;
    FloatingWidget& operator=(const FloatingWidget&) = delete;

    // Recording: level 0, elapsed 0 and counting every 0.1 s.
    void showRecording() override;
    // Processing with "Transcribing…" / "Enhancing…".
    void showProcessing() override;
    void showEnhancing() override;
    // Processing with "Still transcribing…".
    void showStillTranscribing() override;
    // A result message; hidden 1.5 s later unless another show, flash or hide comes first.
    void flashResult(const std::string& message, bool ok) override;
    void hide() override;
    // The latest input level (0 … 1 as the recorder delivers it; stored unchanged).
    void pushLevel(float level) override;

    // The size factor of a "widgetSize" setting: large 1.05, medium 0.92, anything else 0.78.
    static double scaleFor(const std::string& widgetSize);
    // The window's content size at a size factor: (240 s + 12) × (58 s + 12).
    struct Size {
        double width, height;
    };
    static Size contentSize(double scale);

    // For the views and for tests: the model drawn, the window (null before the first show)
    // and whether it is on screen.
    WidgetModel& model();
    QWidget* window() const;
    bool isShown() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};
