#include "platform/qt/QtScheduler.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <cmath>

namespace platform {

QtScheduler::QtScheduler() : context_(new QObject), start_(std::chrono::steady_clock::now()) {}

QtScheduler::~QtScheduler() { delete context_; }

void QtScheduler::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(context_, [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
}

TimerHandle QtScheduler::postAfter(double seconds, std::function<void()> fn) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    TimerHandle handle(flag);
    const int ms = seconds <= 0 ? 0 : static_cast<int>(std::lround(seconds * 1000.0));
    auto arm = [this, ms, flag, fn = std::move(fn)]() mutable {
        QTimer::singleShot(ms, Qt::PreciseTimer, context_, [flag, fn = std::move(fn)] {
            if (!flag->load()) fn();
        });
    };
    // Timers belong to the thread that owns the context object: arm them there.
    QMetaObject::invokeMethod(context_, std::move(arm), Qt::AutoConnection);
    return handle;
}

double QtScheduler::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

}  // namespace platform
