#include "ui/kit/KestalTheme.h"

#include "ui/kit/Kestal.h"

#include <QApplication>

QPalette KestalTheme::palette() {
    QPalette p;
    // Every role of every group is set: a role left out keeps the platform's light colour.
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        p.setColor(group, QPalette::Window, Kestal::bg);
        p.setColor(group, QPalette::WindowText, disabled ? Kestal::faint : Kestal::text);
        p.setColor(group, QPalette::Base, disabled ? Kestal::bg : Kestal::surface);
        p.setColor(group, QPalette::AlternateBase, Kestal::elev);
        p.setColor(group, QPalette::ToolTipBase, Kestal::elev);
        p.setColor(group, QPalette::ToolTipText, Kestal::text);
        p.setColor(group, QPalette::PlaceholderText, Kestal::faint);
        p.setColor(group, QPalette::Text, disabled ? Kestal::faint : Kestal::text);
        p.setColor(group, QPalette::Button, disabled ? Kestal::surface : Kestal::elev);
        p.setColor(group, QPalette::ButtonText, disabled ? Kestal::faint : Kestal::text);
        p.setColor(group, QPalette::BrightText, Qt::white);
        // The bevel shades the style draws with, from the border colour outwards.
        p.setColor(group, QPalette::Light, Kestal::border.lighter(160));
        p.setColor(group, QPalette::Midlight, Kestal::border.lighter(125));
        p.setColor(group, QPalette::Mid, Kestal::border);
        p.setColor(group, QPalette::Dark, Kestal::surface.darker(130));
        p.setColor(group, QPalette::Shadow, Qt::black);
        p.setColor(group, QPalette::Highlight, disabled ? Kestal::elev : Kestal::blue);
        p.setColor(group, QPalette::HighlightedText, disabled ? Kestal::faint : Qt::white);
        p.setColor(group, QPalette::Link, Kestal::blue);
        p.setColor(group, QPalette::LinkVisited, Kestal::blue.lighter(120));
    }
    return p;
}

void KestalTheme::apply() { QApplication::setPalette(palette()); }
