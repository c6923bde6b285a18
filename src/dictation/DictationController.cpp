#include "dictation/DictationController.h"

#include "state/AppSettings.h"
#include "state/WavImage.h"
#include "state/Database.h"
#include "state/FailureText.h"
#include "state/Secrets.h"
#include "cloud/BackendClient.h"
#include "cloud/BackendError.h"
#include "cloud/CloudTranscriber.h"
#include "cloud/Enhancer.h"
#include "dictation/AudioRecorder.h"
#include "dictation/DictionaryEngine.h"
#include "dictation/RecordingWidget.h"
#include "dictation/TextInjector.h"
#include "dictation/Transcriber.h"
#include "engine/WhisperClient.h"
#include "platform/Accessibility.h"
#include "platform/Http.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/TextTools.h"
#include "platform/Pasteboard.h"
#include "platform/Sounds.h"
#include "platform/Workspace.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr double kMinimumSeconds = 0.4;
constexpr double kRewriteBudget = 2.5;
// The paste could not be sent in this session: the text waits on the clipboard.
constexpr const char* kCopiedPressPaste = "Copied — press Ctrl+V to paste";
constexpr const char* kAccessibilityPane =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

}  // namespace

namespace {
DictationController::Parts withWidget(std::unique_ptr<RecordingWidget> widget,
                                      std::unique_ptr<CloudTranscriber> cloud) {
    DictationController::Parts parts;
    parts.widget = std::move(widget);
    parts.cloud = std::move(cloud);
    return parts;
}
}  // namespace

DictationController::DictationController(std::unique_ptr<RecordingWidget> widget)
    : DictationController(withWidget(std::move(widget), nullptr)) {}

DictationController::DictationController(std::unique_ptr<RecordingWidget> widget,
                                         std::unique_ptr<CloudTranscriber> cloud)
    : DictationController(withWidget(std::move(widget), std::move(cloud))) {}

DictationController::DictationController(Parts parts) : parts_(std::move(parts)) {
    if (!parts_.recorder) parts_.recorder = std::make_unique<AudioRecorder>();
    if (!parts_.whisper) parts_.whisper = std::make_unique<WhisperClient>();
    if (!parts_.cloud) parts_.cloud = std::make_unique<CloudTranscriber>();
    if (!parts_.transcriber) parts_.transcriber = std::make_unique<Transcriber>(*parts_.whisper, *parts_.cloud);
    if (!parts_.enhancer) parts_.enhancer = std::make_unique<Enhancer>();
    if (!parts_.injector) parts_.injector = std::make_unique<TextInjector>();
    if (!parts_.widget) parts_.widget = std::make_unique<RecordingWidget>();
    // Opened now, at start-up: rows an earlier run could not store land before the first dictation.
    history_ = parts_.history ? parts_.history : &Database::shared();
}

DictationController::~DictationController() { *alive_ = false; }

void DictationController::setState(State next) {
    const State old = state_;
    state_ = next;
    if (onStateChange) onStateChange(next);
    if ((old == State::recording) != (next == State::recording) && recordingActiveChanged)
        recordingActiveChanged(next == State::recording);
}

void DictationController::playSound(const char* name) {
    if (AppSettings::shared().sounds()) platform::Sounds::shared().play(name);
}

void DictationController::startRecording() {
    std::weak_ptr<bool> alive = alive_;
    parts_.recorder->onLevel = [this, alive](float level) {
        if (auto a = alive.lock(); a && *a) parts_.widget->pushLevel(level);
    };
    parts_.recorder->onSourceLost = [this, alive] {
        if (auto a = alive.lock(); a && *a) sourceLost();
    };
    try {
        parts_.recorder->start();
    } catch (const std::exception& e) {
        qCWarning(logDictation, "the recording cannot start: %s", FailureText::forLog(e).c_str());
        parts_.widget->flashResult("Mic unavailable", false);
        playSound("Basso");
        return;
    }
    setState(State::recording);
    parts_.widget->showRecording();
    playSound("Pop");
    checkReachability();
}

platform::Task<> DictationController::checkReachability() {
    auto alive = alive_;
    bool healthy = false;
    try {
        healthy = co_await parts_.transcriber->isHealthy();
    } catch (const std::exception& e) {
        qCWarning(logDictation, "the route's check failed: %s", FailureText::forLog(e).c_str());
        healthy = false;
    }
    if (!healthy && *alive && state_ == State::recording) qCWarning(logDictation, "the chosen route cannot serve");
    if (healthy || !*alive || state_ != State::recording) co_return;
    discardRecording();
    parts_.widget->flashResult("Whisper server offline", false);
    playSound("Basso");
}

void DictationController::finishRecording() {
    std::string wav = parts_.recorder->stop();
    const double seconds = WavImage::durationSeconds(wav);
    if (seconds < kMinimumSeconds) {
        setState(State::idle);
        parts_.widget->hide();
        return;
    }
    setState(State::processing);
    processingSeconds_ = seconds;
    parts_.widget->showProcessing();
    process(std::move(wav), AppSettings::shared().language(), seconds);
}

bool DictationController::isSettled() const { return state_ == State::idle && !parts_.injector->isBusy(); }

bool DictationController::finishBeforeQuit() {
    if (state_ == State::recording) finishRecording();
    return !isSettled();
}

void DictationController::programEnding() {
    if (state_ != State::processing) return;
    std::fprintf(stderr,
                 "Tovrin: a dictation of %.1f s was still being transcribed when the program ended; it was not "
                 "transcribed, pasted or kept in the history\n",
                 processingSeconds_);
}

void DictationController::sourceLost() {
    if (state_ != State::recording) return;
    // What was said before the microphone went is kept and goes its way; the rest was not heard,
    // and the user is told so at once.
    finishRecording();
    parts_.widget->flashResult("Mic unavailable", false);
    playSound("Basso");
}

void DictationController::pushToTalkDown() {
    if (state_ == State::idle) {
        pressStartedRecording_ = true;
        startRecording();
    } else if (state_ == State::recording) {
        stopHandledByPress_ = true;
        finishRecording();
    } else {
        // The press starts nothing while the last recording is processed; say so at once, so
        // that nobody speaks into a microphone that is not listening.
        parts_.widget->showStillTranscribing();
        playSound("Basso");
    }
}

void DictationController::pushToTalkUp(double heldSeconds) {
    if (stopHandledByPress_) {
        stopHandledByPress_ = false;
    } else if (pressStartedRecording_) {
        pressStartedRecording_ = false;
        if (state_ == State::recording && heldSeconds >= 0.5) finishRecording();
    }
}

void DictationController::keyDownDuringHold() {
    if (pressStartedRecording_ && state_ == State::recording) discardRecording();
}

void DictationController::cancelRecording() {
    if (state_ != State::recording) return;
    discardRecording();
    parts_.widget->flashResult("Cancelled", false);
}

void DictationController::discardRecording() {
    pressStartedRecording_ = false;
    parts_.recorder->cancel();
    setState(State::idle);
    parts_.widget->hide();
}

platform::Task<> DictationController::process(std::string wav, std::string language, double seconds) {
    auto alive = alive_;
    WhisperResult result;
    bool failed = false;
    try {
        result = co_await parts_.transcriber->transcribe(std::move(wav), language);
    } catch (const std::exception& e) {
        qCWarning(logDictation, "the transcription failed: %s", FailureText::forLog(e).c_str());
        failed = true;
    }
    if (!*alive) co_return;
    if (failed) {
        setState(State::idle);
        parts_.widget->flashResult("Transcription failed", false);
        playSound("Basso");
        co_return;
    }
    std::string text = platform::TextTools::trimmed(result.text);
    if (text.empty()) {
        setState(State::idle);
        parts_.widget->flashResult("No speech detected", false);
        co_return;
    }
    text = DictionaryEngine::apply(text);
    std::string final = co_await enhanceBounded(text, language, kRewriteBudget);
    if (!*alive) co_return;

    // A NUL would cut the text short on its way; other control characters are no dictation.
    final = platform::TextTools::withoutControls(final);
    setState(State::idle);
    // A row the store cannot take now is kept by it and lands later; the paste goes on regardless.
    const bool stored = history_->insertHistory(final, wordCount(final), seconds, result.language);
    if (stored) platform::NotificationCenter::shared().post(Database::historyChanged);
    output(final, stored);
}

void DictationController::output(const std::string& final, bool stored) {
    const bool copyOnly = AppSettings::shared().copyInsteadOfTyping();
    auto& pasteboard = platform::Pasteboard::general();
    if (copyOnly || platform::Accessibility::shared().isTrusted(false)) {
        // Every dictation whose row is not stored says so.
        const bool tellNotSaved = !stored;
        // Told once the outcome is known: a paste counts as inserted only when its chord was sent.
        auto report = [this, copyOnly, tellNotSaved](bool sent) {
            if (!sent) {
                parts_.widget->flashResult(kCopiedPressPaste, false);
                playSound("Basso");
                return;
            }
            if (tellNotSaved)
                parts_.widget->flashResult(copyOnly ? "Copied — history not saved" : "Inserted — history not saved",
                                           false);
            else
                parts_.widget->flashResult(copyOnly ? "Copied ✓" : "Inserted ✓", true);
            playSound("Tink");
        };
        if (!final.empty() && !copyOnly) {
            std::weak_ptr<bool> alive = alive_;
            parts_.injector->pasteViaClipboard(final, [alive, report](bool sent) {
                if (auto a = alive.lock(); a && *a) report(sent);
            });
            return;
        }
        if (!final.empty()) {
            pasteboard.clear();
            pasteboard.setString(final);
        }
        report(true);
    } else {
        pasteboard.clear();
        pasteboard.setString(final);
        parts_.widget->flashResult("Enable Accessibility — copied", false);
        promptAccessibility();
        playSound("Basso");
    }
}

platform::Task<std::string> DictationController::enhanceBounded(std::string text, std::string language,
                                                                double timeout) {
    platform::CancelToken token;
    std::optional<std::string> rewritten;
    bool failed = false;
    try {
        rewritten = co_await platform::within(maybeEnhance(text, language, token), timeout);
    } catch (const std::exception&) {
        qCWarning(logDictation, "the rewrite failed; the text goes as transcribed: %s",
                  FailureText::forLog(std::current_exception()).c_str());
        rewritten.reset();
        failed = true;
    }
    if (!rewritten && !failed) qCWarning(logDictation, "no rewrite within %.1f s; the text goes as transcribed", timeout);
    token.cancel();
    co_return rewritten ? *rewritten : text;
}

platform::Task<std::string> DictationController::maybeEnhance(std::string text, std::string language,
                                                              platform::CancelToken token) {
    auto alive = alive_;
    auto& settings = AppSettings::shared();
    if (!settings.aiEnhanceEnabled()) co_return text;

    const std::string instruction =
        Enhancer::resolveInstruction(settings.enhanceMode(), settings.customEnhanceInstruction());

    const std::string providerId = settings.enhanceProvider();
    const std::string key = Secrets::get(Secrets::apiKeyAccount(providerId)).value_or("");
    if (key.empty() && !BackendClient::shared().isLoggedIn()) co_return text;

    parts_.widget->showEnhancing();
    try {
        const auto provider = Enhancer::providerFromRaw(providerId);
        std::string out;
        if (!key.empty() && provider) {
            out = co_await parts_.enhancer->enhance(text, *provider, settings.enhanceModel(providerId), instruction,
                                                    language);
        } else {
            out = co_await BackendClient::shared().enhanceRemote(text, instruction, language);
        }
        co_return out;
    } catch (const BackendError& e) {
        qCWarning(logDictation, "the account service's rewrite failed (%s); the text goes as transcribed",
                  e.code().c_str());
        if (e.code() == "INSUFFICIENT_CREDITS" && *alive && !token.isCancelled())
            parts_.widget->flashResult("Out of credits — upgrade in Settings", false);
    } catch (const std::exception& e) {
        qCWarning(logDictation, "the rewrite failed; the text goes as transcribed: %s", FailureText::forLog(e).c_str());
    }
    co_return text;
}

void DictationController::promptAccessibility() {
    if (promptedAccessibility_) return;
    promptedAccessibility_ = true;
    platform::Accessibility::shared().isTrusted(true);
    platform::Workspace::shared().openUrl(kAccessibilityPane);
}

int DictationController::wordCount(const std::string& text) {
    int n = 0;
    std::size_t i = 0;
    while (i <= text.size()) {
        const std::size_t j = text.find(' ', i);
        const std::size_t end = j == std::string::npos ? text.size() : j;
        if (end > i) ++n;
        if (j == std::string::npos) break;
        i = j + 1;
    }
    return n;
}
