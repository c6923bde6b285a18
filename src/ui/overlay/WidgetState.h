// What the recording widget shows: nothing, the recording, the processing, or a result message.
#pragma once

#include <string>

class WidgetState {
public:
    enum class Kind { hidden, recording, processing, done };

    WidgetState() = default;
    static WidgetState hidden() { return WidgetState(Kind::hidden, {}, false); }
    static WidgetState recording() { return WidgetState(Kind::recording, {}, false); }
    static WidgetState processing() { return WidgetState(Kind::processing, {}, false); }
    static WidgetState done(std::string message, bool ok) { return WidgetState(Kind::done, std::move(message), ok); }

    Kind kind() const { return kind_; }
    // The message and its success flag (only meaningful for done).
    const std::string& message() const { return message_; }
    bool ok() const { return ok_; }

    // The kind as a small number for the change animation: hidden 0, recording 1, processing 2,
    // done and ok 3, done and not ok 4 (a new message alone keeps the number).
    int animationKey() const {
        switch (kind_) {
        case Kind::hidden: return 0;
        case Kind::recording: return 1;
        case Kind::processing: return 2;
        case Kind::done: return ok_ ? 3 : 4;
        }
        return 0;
    }

    bool operator==(const WidgetState& o) const {
        if (kind_ != o.kind_) return false;
        return kind_ != Kind::done || (message_ == o.message_ && ok_ == o.ok_);
    }

private:
    WidgetState(Kind k, std::string m, bool ok) : kind_(k), message_(std::move(m)), ok_(ok) {}

    Kind kind_ = Kind::hidden;
    std::string message_;
    bool ok_ = false;
};
