#include "ui/overlay/FloatingWidget.h"

#include "state/AppSettings.h"
#include "platform/Defaults.h"
#include "platform/FloatingPanel.h"
#include "platform/MainQueue.h"
#include "ui/overlay/ScreenLayout.h"
#include "ui/overlay/WidgetModel.h"
#include "ui/overlay/WidgetView.h"

#include <QApplication>

#include <cmath>
#include <optional>

namespace {
constexpr const char* kOriginX = "widgetOriginX";
constexpr const char* kOriginY = "widgetOriginY";
constexpr double kTickInterval = 0.1;
constexpr double kFlashDuration = 1.5;

std::optional<double> storedNumber(const char* key) {
    auto v = platform::Defaults::shared().object(key);
    if (!v) return std::nullopt;
    if (auto d = std::get_if<double>(&*v)) return *d;
    if (auto i = std::get_if<std::int64_t>(&*v)) return static_cast<double>(*i);
    if (auto s = std::get_if<std::string>(&*v)) {
        char* end = nullptr;
        const double d = std::strtod(s->c_str(), &end);
        if (end != s->c_str()) return d;
    }
    return 0.0;
}
}  // namespace

struct FloatingWidget::Impl : std::enable_shared_from_this<FloatingWidget::Impl> {
    WidgetModel model;
    std::unique_ptr<platform::FloatingPanel> panel;
    platform::TimerHandle tick;
    std::optional<double> recordingStart;
    platform::TimerHandle pendingHide;

    void ensurePanel() {
        if (panel) return;
        panel = std::make_unique<platform::FloatingPanel>();
        panel->setContent(new WidgetView(&model));
        std::weak_ptr<Impl> weak = weak_from_this();
        panel->onMoved = [weak](QPoint p) {
            if (auto self = weak.lock()) self->storeOrigin(p.x(), p.y());
        };
    }

    void storeOrigin(double x, double y) {
        platform::Defaults::shared().setDouble(kOriginX, x);
        platform::Defaults::shared().setDouble(kOriginY, y);
    }

    void stopTimer() {
        tick.cancel();
        tick = {};
    }

    // Every show, flash or hide supersedes the hide a previous flash left pending.
    void dropPendingHide() {
        pendingHide.cancel();
        pendingHide = {};
    }

    void scheduleTick() {
        std::weak_ptr<Impl> weak = weak_from_this();
        tick = platform::MainQueue::after(kTickInterval, [weak] {
            auto self = weak.lock();
            if (!self || !self->recordingStart) return;
            self->model.setElapsed(platform::MainQueue::now() - *self->recordingStart);
            self->scheduleTick();
        });
    }

    void applySize() {
        const double s = scaleFor(AppSettings::shared().widgetSize());
        model.setScale(s);
        if (panel) {
            const Size c = contentSize(s);
            panel->setFixedSize(static_cast<int>(std::ceil(c.width - 1e-9)), static_cast<int>(std::ceil(c.height - 1e-9)));
            if (auto* view = panel->findChild<WidgetView*>()) {
                view->resize(panel->size());
                panel->setShape(view->capsulePath());
            }
        }
    }

    // The window's title names what it shows ("Recording", the processing label, the result
    // message), so that other programs (window lists, accessibility tools, tests) can read it.
    void updateTitle() {
        if (!panel) return;
        std::string title;
        switch (model.state().kind()) {
        case WidgetState::Kind::hidden: break;
        case WidgetState::Kind::recording: title = "Recording"; break;
        case WidgetState::Kind::processing: title = model.processingLabel(); break;
        case WidgetState::Kind::done: title = model.state().message(); break;
        }
        panel->setWindowTitle(QString::fromStdString(title));
    }

    void present() {
        applySize();
        if (!qApp) return;
        const ScreenLayout screens = ScreenLayout::current();
        if (!screens.mainAvailable) return;
        ensurePanel();
        applySize();
        const double w = panel->width(), h = panel->height();
        std::optional<ScreenLayout::Point> saved;
        if (platform::Defaults::shared().object(kOriginX))
            saved = ScreenLayout::Point{storedNumber(kOriginX).value_or(0), storedNumber(kOriginY).value_or(0)};
        const ScreenLayout::Point origin = screens.placement(saved, w, h);
        const QPoint at(static_cast<int>(std::lround(origin.x)), static_cast<int>(std::lround(origin.y)));
        panel->move(at);
        storeOrigin(at.x(), at.y());
        updateTitle();
        panel->orderFront();
    }
};

FloatingWidget::FloatingWidget() : impl_(std::make_shared<Impl>()) {}

FloatingWidget::~FloatingWidget() {
    impl_->stopTimer();
    impl_->dropPendingHide();
}

double FloatingWidget::scaleFor(const std::string& widgetSize) {
    if (widgetSize == "large") return 1.05;
    if (widgetSize == "medium") return 0.92;
    return 0.78;
}

FloatingWidget::Size FloatingWidget::contentSize(double scale) { return {240 * scale + 12, 58 * scale + 12}; }

void FloatingWidget::showRecording() {
    impl_->dropPendingHide();
    impl_->recordingStart = platform::MainQueue::now();
    impl_->model.pushLevel(0);
    impl_->model.setState(WidgetState::recording());
    impl_->model.setElapsed(0);
    impl_->stopTimer();
    impl_->scheduleTick();
    impl_->present();
}

void FloatingWidget::showProcessing() {
    impl_->dropPendingHide();
    impl_->stopTimer();
    impl_->model.setProcessingLabel("Transcribing\u2026");
    impl_->model.setState(WidgetState::processing());
    impl_->present();
}

void FloatingWidget::showEnhancing() {
    impl_->dropPendingHide();
    impl_->stopTimer();
    impl_->model.setProcessingLabel("Enhancing\u2026");
    impl_->model.setState(WidgetState::processing());
    impl_->present();
}

void FloatingWidget::showStillTranscribing() {
    impl_->dropPendingHide();
    impl_->stopTimer();
    impl_->model.setProcessingLabel("Still transcribing\u2026");
    impl_->model.setState(WidgetState::processing());
    impl_->present();
}

void FloatingWidget::flashResult(const std::string& message, bool ok) {
    impl_->dropPendingHide();
    impl_->stopTimer();
    impl_->model.setState(WidgetState::done(message, ok));
    impl_->present();
    std::weak_ptr<Impl> weak = impl_;
    // Only this flash's own hide: a later show, flash or hide cancels it.
    impl_->pendingHide = platform::MainQueue::after(kFlashDuration, [this, weak] {
        if (auto self = weak.lock()) {
            self->pendingHide = {};
            hide();
        }
    });
}

void FloatingWidget::hide() {
    impl_->dropPendingHide();
    impl_->stopTimer();
    impl_->model.setState(WidgetState::hidden());
    impl_->updateTitle();
    if (impl_->panel) impl_->panel->orderOut();
}

void FloatingWidget::pushLevel(float level) { impl_->model.pushLevel(level); }

WidgetModel& FloatingWidget::model() { return impl_->model; }
QWidget* FloatingWidget::window() const { return impl_->panel.get(); }
bool FloatingWidget::isShown() const { return impl_->panel && impl_->panel->isVisible(); }
