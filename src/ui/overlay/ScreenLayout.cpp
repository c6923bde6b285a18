#include "ui/overlay/ScreenLayout.h"

#include <QGuiApplication>
#include <QScreen>

namespace {
std::function<ScreenLayout()>& provider() {
    static std::function<ScreenLayout()> p;
    return p;
}

ScreenLayout::Rect toRect(const QRect& r) { return {double(r.x()), double(r.y()), double(r.width()), double(r.height())}; }
}  // namespace

bool ScreenLayout::Rect::intersects(const Rect& o) const {
    // Overlap of positive area; rectangles that only touch do not intersect.
    if (width <= 0 || height <= 0 || o.width <= 0 || o.height <= 0) return false;
    return x < o.x + o.width && o.x < x + width && y < o.y + o.height && o.y < y + height;
}

ScreenLayout::Point ScreenLayout::placement(std::optional<Point> saved, double w, double h) const {
    if (saved) {
        const Rect panel{saved->x, saved->y, w, h};
        for (const Rect& f : frames)
            if (f.intersects(panel)) return *saved;
    }
    const Rect a = mainAvailable.value_or(Rect{});
    return {a.x + a.width / 2 - w / 2, a.y + a.height - 28 - h};
}

ScreenLayout ScreenLayout::current() {
    if (provider()) return provider()();
    ScreenLayout layout;
    if (!qGuiApp) return layout;
    QScreen* main = QGuiApplication::primaryScreen();
    if (!main) return layout;
    layout.mainAvailable = toRect(main->availableGeometry());
    layout.frames.push_back(toRect(main->geometry()));
    for (QScreen* s : QGuiApplication::screens())
        if (s != main) layout.frames.push_back(toRect(s->geometry()));
    return layout;
}

void ScreenLayout::setProvider(std::function<ScreenLayout()> p) { provider() = std::move(p); }
