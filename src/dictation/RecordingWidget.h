// What the dictation controller shows while it works: recording with the live level,
// processing, and a short result message. The floating widget of the overlay is the real one;
// this base shows nothing.
#pragma once

#include <string>

class RecordingWidget {
public:
    virtual ~RecordingWidget() = default;

    // Recording: level 0, elapsed 0 and counting.
    virtual void showRecording() {}
    // Processing with "Transcribing…" / "Enhancing…".
    virtual void showProcessing() {}
    virtual void showEnhancing() {}
    // Processing with "Still transcribing…": the push-to-talk key went down while the audio is
    // still being processed, and that press starts nothing.
    virtual void showStillTranscribing() {}
    // A result message that goes away by itself unless something else is shown first.
    virtual void flashResult(const std::string& message, bool ok) {}
    virtual void hide() {}
    // The latest input level (0 … 1 as the recorder delivers it).
    virtual void pushLevel(float level) {}
};
