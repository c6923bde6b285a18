// Writes every Qt log message, beside standard error, to a private file (0600 in a 0700 folder):
// one line each with the time, the category and the level. The file is rotated when it passes
// its size limit; the current file and one earlier are kept.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class QtLogFile {
public:
    static constexpr std::int64_t defaultLimit = 1024 * 1024;

    // Installs the log for the process; `path` is the current file (the earlier one is
    // `path + ".1"`). Installing again moves the log to the new path.
    static void install(const std::string& path, std::int64_t limit = defaultLimit);
    // Stops writing to the file (messages go to standard error alone).
    static void uninstall();
    // $XDG_STATE_HOME/Tovrin/tovrin.log
    static std::string defaultPath();
};

}  // namespace platform
