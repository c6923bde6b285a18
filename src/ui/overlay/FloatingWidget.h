// The floating recording widget: level and time while recording, progress, the outcome.
#pragma once

#include <memory>
#include <string>

class FloatingWidget {
public:
    FloatingWidget();
    virtual ~FloatingWidget();

    virtual void showRecording();
    virtual void showProcessing();
    virtual void showEnhancing();
    virtual void flashResult(const std::string& message, bool ok);
    virtual void hide();
    virtual void pushLevel(float level);
};
