// Timestamped log lines: information to standard output, problems to standard error.
// Each line is written whole and flushed, so the output reads well when redirected to a file.
#pragma once

#include <string>

namespace server {

class Log {
public:
    static void info(const std::string& message);
    static void warning(const std::string& message);  // to standard error
    static void error(const std::string& message);
};

}  // namespace server
