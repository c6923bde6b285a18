#include "platform/Scheduler.h"

#include <cassert>
#include <stdexcept>

namespace platform {

namespace {
std::atomic<Scheduler*> g_main{nullptr};
}

Scheduler& Scheduler::main() {
    Scheduler* s = g_main.load();
    if (!s) throw std::logic_error("no main scheduler installed");
    return *s;
}

void Scheduler::setMain(Scheduler* scheduler) { g_main.store(scheduler); }

}  // namespace platform
