// Facts about this machine and its system.
#pragma once

#include <cstdint>
#include <string>

namespace platform::Machine {
std::uint64_t physicalMemory();
int processorCount();
// The operating system's name and version, e.g. "Debian GNU/Linux 12 (bookworm)".
std::string osVersionString();
}
