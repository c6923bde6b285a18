#include "ui/onboarding/OnboardingStep.h"

#include "ui/kit/Kestal.h"

#include <QLabel>
#include <QSizePolicy>
#include <QVBoxLayout>

OnboardingStep::OnboardingStep(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Kestal::bg);
    p.setColor(QPalette::WindowText, Kestal::text);
    setPalette(p);
}

QVBoxLayout* OnboardingStep::heading(const QString& title, const QString& subtitle) {
    auto* header = new QVBoxLayout;
    header->setSpacing(6);
    QFont titleFont = Kestal::largeTitle();
    titleFont.setBold(true);
    header->addWidget(textLabel(title, titleFont, Kestal::text, this));
    header->addWidget(textLabel(subtitle, Kestal::body(), Kestal::dim, this));
    return header;
}

void OnboardingStep::makeLarge(QWidget* button) {
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setMinimumHeight(36);
}

QLabel* OnboardingStep::textLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    return l;
}
