// The screens as the recording widget places itself on them, in desktop coordinates (origin at
// the top left, y growing downwards), and the placement rule.
#pragma once

#include <functional>
#include <optional>
#include <vector>

class ScreenLayout {
public:
    struct Rect {
        double x = 0, y = 0, width = 0, height = 0;
        bool intersects(const Rect& o) const;
    };
    struct Point {
        double x = 0, y = 0;
        bool operator==(const Point&) const = default;
    };

    // The main screen's area without panels and docks; absent when there is no screen at all.
    std::optional<Rect> mainAvailable;
    // Every screen's full frame, main screen first.
    std::vector<Rect> frames;

    // Where a w × h panel goes: the saved origin when the rectangle it spans overlaps any screen
    // (partly is enough), else centred 28 points above the bottom of the main screen's available
    // area. Needs a main screen.
    Point placement(std::optional<Point> saved, double w, double h) const;

    // The screens now.
    static ScreenLayout current();
    // Replaces the screens for tests; an empty function restores the real ones.
    static void setProvider(std::function<ScreenLayout()> provider);
};
