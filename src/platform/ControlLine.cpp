#include "platform/ControlLine.h"

namespace platform {

namespace {

struct Entry {
    ControlCommand command;
    const char* line;
};

constexpr Entry kLines[] = {
    {ControlCommand::reopen, "reopen"},  {ControlCommand::pttDown, "ptt-down"}, {ControlCommand::pttUp, "ptt-up"},
    {ControlCommand::toggle, "toggle"}, {ControlCommand::cancel, "cancel"},
};

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::optional<ControlCommand> ControlLine::parse(std::string_view line) {
    while (!line.empty() && blank(line.front())) line.remove_prefix(1);
    while (!line.empty() && blank(line.back())) line.remove_suffix(1);
    for (const Entry& e : kLines)
        if (line == e.line) return e.command;
    return std::nullopt;
}

std::string ControlLine::text(ControlCommand command) {
    for (const Entry& e : kLines)
        if (e.command == command) return e.line;
    return {};
}

std::optional<ControlCommand> ControlLine::fromOption(std::string_view option) {
    if (option.substr(0, 2) != "--") return std::nullopt;
    const auto command = parse(option.substr(2));
    if (!command || *command == ControlCommand::reopen || option.size() != text(*command).size() + 2)
        return std::nullopt;
    return command;
}

}  // namespace platform
