// Measures what the recording widget costs while it is shown: process CPU seconds per wall
// second over a run, with the level changing 20 times a second as it does while recording.
// Also measures the processing spinner and the hidden widget for comparison.
#include "state/AppSettings.h"
#include "platform/MemoryDefaults.h"
#include "platform/Paths.h"
#include "platform/qt/QtScheduler.h"
#include "ui/overlay/FloatingWidget.h"
#include "ui/overlay/WidgetView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>

namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Result {
    double cpuPerSecond;
    double framesPerSecond;
};

Result measure(FloatingWidget& widget, double seconds, const std::function<void()>& start) {
    start();
    QApplication::processEvents();
    WidgetView* view = widget.window() ? widget.window()->findChild<WidgetView*>() : nullptr;
    const long frames0 = view ? view->framesPainted() : 0;
    QTimer levels;
    int tick = 0;
    QObject::connect(&levels, &QTimer::timeout, [&] {
        widget.pushLevel(0.5f + 0.45f * float(std::sin(tick++ * 0.7)));
    });
    levels.start(50);
    QElapsedTimer wall;
    const double cpu0 = cpuSeconds();
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double w = wall.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    levels.stop();
    const long frames = view ? view->framesPainted() - frames0 : 0;
    return {cpu / w, frames / w};
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const double seconds = argc > 1 ? std::max(0.5, std::atof(argv[1])) : 5.0;
    QApplication app(argc, argv);
    platform::QtScheduler scheduler;
    platform::Scheduler::setMain(&scheduler);
    platform::MemoryDefaults defaults;
    platform::Defaults::setShared(&defaults);
    platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);

    std::printf("widget-bench on the \"%s\" platform, %.1f s per case\n", qPrintable(QGuiApplication::platformName()),
                seconds);
    for (const char* size : {"small", "medium", "large"}) {
        AppSettings::shared().setWidgetSize(size);
        FloatingWidget widget;
        const Result rec = measure(widget, seconds, [&] { widget.showRecording(); });
        const Result proc = measure(widget, seconds, [&] { widget.showProcessing(); });
        const Result idle = measure(widget, seconds, [&] { widget.hide(); });
        std::printf("%-6s recording: %6.2f ms CPU per second (%4.1f %% of a core), %5.1f frames/s\n", size,
                    rec.cpuPerSecond * 1000, rec.cpuPerSecond * 100, rec.framesPerSecond);
        std::printf("%-6s processing: %5.2f ms CPU per second (%4.1f %% of a core), %5.1f frames/s\n", size,
                    proc.cpuPerSecond * 1000, proc.cpuPerSecond * 100, proc.framesPerSecond);
        std::printf("%-6s hidden: %9.2f ms CPU per second, %5.1f frames/s\n", size, idle.cpuPerSecond * 1000,
                    idle.framesPerSecond);
    }
    return 0;
}
