// What the server benchmarks share: WAV images, the engine request form, starting a server.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

// Appends a little-endian 16-bit sample.
void put16(std::string& s, unsigned v);
// 16 kHz mono 16-bit WAV image of little-endian samples.
std::string wavOf(const std::string& samples);
// The engine's request form: the file, "language" unless empty, and "response_format" json.
std::string form(const std::string& boundary, const std::string& file, const std::string& language);
// Starts `args` with standard output and error in `logPath`; -1 when it cannot start.
pid_t spawn(const std::vector<std::string>& args, const std::string& logPath);

}  // namespace bench
