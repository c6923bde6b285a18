// One page of the onboarding window. The window shows one step at a time; a step is told when it
// comes on screen (it may act at once then, e.g. pass itself over) and when it leaves it.
#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

class OnboardingStep : public QWidget {
    Q_OBJECT
public:
    explicit OnboardingStep(QWidget* parent = nullptr);

    // Called each time the step comes on screen: when it is put up in a visible window, and when
    // the window is shown again after it was closed. May call the step's own completion.
    virtual void appear() {}
    // Called when the step leaves the screen (the window closes, or the next step replaces it).
    virtual void disappear() {}

protected:
    // A full-width button label on the large control size.
    static void makeLarge(QWidget* button);
    // A wrapping label of plain text (never markup) in `font` and `color`.
    static QLabel* textLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent);
    // The step's heading, for the top of its column: `title` in the bold large-title font above
    // `subtitle` in the dimmed body font, 6 pt apart.
    QVBoxLayout* heading(const QString& title, const QString& subtitle);
};
