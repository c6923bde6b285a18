#include "support/AsyncWait.h"

#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <stdexcept>

#include <unistd.h>

namespace test {

bool driveUntil(const std::function<bool()>& done, double realSeconds, double fakeStep) {
    QElapsedTimer timer;
    timer.start();
    auto& clock = fakes().scheduler;
    while (!done()) {
        if (timer.elapsed() > realSeconds * 1000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        clock.runPending();
        if (done()) break;
        if (fakeStep > 0 && clock.pendingCount() > 0) clock.advance(fakeStep);
        else ::usleep(500);
    }
    return true;
}

}  // namespace test
