#include "platform/Machine.h"

#include <QString>
#include <QSysInfo>

#include <thread>
#include <unistd.h>

namespace platform::Machine {

std::uint64_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && size > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size) : 0;
}

int processorCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n ? static_cast<int>(n) : 1;
}

std::string osVersionString() {
    return (QSysInfo::prettyProductName() + " (kernel " + QSysInfo::kernelVersion() + ")").toStdString();
}

}  // namespace platform::Machine
