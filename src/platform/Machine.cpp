#include "platform/Machine.h"

#include <QString>
#include <QSysInfo>

#include <thread>
#include <unistd.h>

namespace platform::Machine {

std::uint64_t installedMemory(std::uint64_t usableBytes) {
    constexpr std::uint64_t GiB = std::uint64_t(1) << 30;
    return (usableBytes + GiB - 1) / GiB * GiB;
}

std::uint64_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || size <= 0) return 0;
    return installedMemory(static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size));
}

int processorCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n ? static_cast<int>(n) : 1;
}

std::string osVersionString() {
    return (QSysInfo::prettyProductName() + " (kernel " + QSysInfo::kernelVersion() + ")").toStdString();
}

}  // namespace platform::Machine
