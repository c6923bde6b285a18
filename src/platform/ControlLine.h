// The lines a second start of the program sends to the running one over the single-instance
// socket: "reopen" (the user opened the program again) and the key commands that a desktop's own
// key bindings run (`tovrin --ptt-down`, `--ptt-up`, `--toggle`, `--cancel`).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class ControlCommand { reopen, pttDown, pttUp, toggle, cancel };

class ControlLine {
public:
    // Longest line accepted (a "reopen" carries its launcher's activation token); a peer sending
    // more without a line end is cut off.
    static constexpr std::size_t maxLength = 512;

    // The command of one line (its line end and surrounding blanks ignored); nullopt for anything
    // else.
    static std::optional<ControlCommand> parse(std::string_view line);
    // The command's line, without the line end.
    static std::string text(ControlCommand command);
    // The key command a command-line option asks for ("--ptt-down" …); reopen has none.
    static std::optional<ControlCommand> fromOption(std::string_view option);
};

}  // namespace platform
