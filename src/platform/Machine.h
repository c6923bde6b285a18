// Facts about this machine and its system.
#pragma once

#include <cstdint>
#include <string>

namespace platform::Machine {
// Installed memory in bytes (0 when it cannot be read).
std::uint64_t physicalMemory();
// The installed memory for the memory the kernel reports as usable, which is less by what the
// firmware and the kernel keep: rounded up to a whole GiB (a 16 GiB PC reports about 15.5 GiB).
std::uint64_t installedMemory(std::uint64_t usableBytes);
int processorCount();
// The operating system's name and version, e.g. "Debian GNU/Linux 12 (bookworm)".
std::string osVersionString();
}
