// The dictation state machine: starts and stops the recorder, checks that a transcription path
// can serve, and runs each recording through transcription, the dictionary, the bounded rewrite,
// the history and the paste or copy, with the widget's message and sound for every outcome.
#pragma once

#include "platform/Task.h"

#include <functional>
#include <memory>
#include <string>

class AudioRecorder;
class CloudTranscriber;
class Database;
class Enhancer;
class RecordingWidget;
class TextInjector;
class Transcriber;
class WhisperClient;

class DictationController {
public:
    enum class State { idle, recording, processing };

    // The collaborators; any left empty is built as the real one.
    struct Parts {
        std::unique_ptr<AudioRecorder> recorder;
        std::unique_ptr<WhisperClient> whisper;
        std::unique_ptr<CloudTranscriber> cloud;
        std::unique_ptr<Transcriber> transcriber;
        std::unique_ptr<Enhancer> enhancer;
        std::unique_ptr<TextInjector> injector;
        std::unique_ptr<RecordingWidget> widget;  // none: the controller shows nothing
        Database* history = nullptr;  // Database::shared() when left empty
    };

    // The real collaborators, showing its work on `widget`; cloud speech-to-text goes through
    // `cloud` when given, else to the providers' real hosts.
    explicit DictationController(std::unique_ptr<RecordingWidget> widget);
    DictationController(std::unique_ptr<RecordingWidget> widget, std::unique_ptr<CloudTranscriber> cloud);
    explicit DictationController(Parts parts);
    ~DictationController();
    DictationController(const DictationController&) = delete;
    DictationController& operator=(const DictationController&) = delete;

    State state() const { return state_; }
    // Every assignment tells onStateChange, and recordingActiveChanged when recording starts or ends.
    void setState(State next);

    std::function<void(State)> onStateChange;
    std::function<void(bool)> recordingActiveChanged;

    void startRecording();
    void finishRecording();

    AudioRecorder& recorder() { return *parts_.recorder; }
    RecordingWidget& widget() { return *parts_.widget; }

    // The push-to-talk key. A press starts a recording, or stops one that is running; the
    // release after a hold of at least half a second stops the recording that press started,
    // a shorter tap leaves it running until the next press. A press while processing starts
    // nothing: the widget says "Still transcribing…" (with "Basso").
    void pushToTalkDown();
    void pushToTalkUp(double heldSeconds);
    // Another key went down while the push-to-talk key was held: the recording it started is
    // discarded without a word, so the key still works as a modifier.
    void keyDownDuringHold();
    // Esc or the cancel key: a running recording is discarded with "Cancelled".
    void cancelRecording();
    // The microphone went away during the recording: what was captured is processed as usual,
    // and the widget says "Mic unavailable" (with "Basso") at once.
    void sourceLost();

    // Nothing is in flight: no recording or processing, and the last paste has given the
    // clipboard back.
    bool isSettled() const;
    // The program is asked to end: a running recording is ended and processed like a release of
    // the key, so that it can still land. Returns true when something is in flight.
    bool finishBeforeQuit();
    // The program ends now: a dictation still being processed will never be transcribed; that is
    // written to standard error with its length, so it is not lost without a word.
    void programEnding();

    // The rewrite, given `timeout` seconds; the text unchanged when it is slower or fails.
    platform::Task<std::string> enhanceBounded(std::string text, std::string language, double timeout);
    // The rewrite as the settings ask for it (or the text unchanged). `token` is cancelled when
    // the caller stopped waiting: nothing is shown on the widget after that.
    platform::Task<std::string> maybeEnhance(std::string text, std::string language,
                                             platform::CancelToken token = {});
    // Shows the system's trust prompt and opens the privacy settings, once per run.
    void promptAccessibility();

    // Words as the history counts them: non-empty pieces between spaces (" " only).
    static int wordCount(const std::string& text);

private:
    platform::Task<> checkReachability();
    platform::Task<> process(std::string wav, std::string language, double seconds);
    // `stored`: the history row is written (else it is kept by the store for later).
    void output(const std::string& final, bool stored);
    void playSound(const char* name);

    // Drops the running recording and hides the widget.
    void discardRecording();

    Parts parts_;
    State state_ = State::idle;
    Database* history_ = nullptr;
    bool pressStartedRecording_ = false;
    bool stopHandledByPress_ = false;
    bool promptedAccessibility_ = false;
    // Seconds of audio of the dictation being processed.
    double processingSeconds_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
