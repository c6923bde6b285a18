#include "ui/onboarding/WelcomeStep.h"

#include "ui/kit/Kestal.h"
#include "ui/kit/KestalPrimaryButtonStyle.h"
#include "platform/Symbols.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignHCenter);
    l->setWordWrap(true);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    return l;
}

}  // namespace

WelcomeStep::WelcomeStep(std::function<void()> next, QWidget* parent)
    : OnboardingStep(parent), next_(std::move(next)) {
    setObjectName("welcomeStep");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 30);
    column->setSpacing(20);
    column->addStretch(1);

    auto* symbol = new QLabel(this);
    symbol->setObjectName("symbol");
    symbol->setPixmap(Symbols::pixmap("mic.circle.fill", 72, Kestal::blue, devicePixelRatioF()));
    symbol->setAlignment(Qt::AlignHCenter);
    column->addWidget(symbol);

    column->addWidget(label("Tovrin", Kestal::font(26, QFont::DemiBold), Kestal::text, this));

    QFont kitFont = Kestal::monospacedFont(10, QFont::Medium);
    kitFont.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    column->addWidget(label("KESTAL \u00B7 TOVRIN", kitFont, Kestal::faint, this));

    QFont headlineFont = Kestal::largeTitle();
    headlineFont.setBold(true);
    column->addWidget(label("Type with your voice, anywhere", headlineFont, Kestal::text, this));

    auto* paragraph = label("Hold the Menu key, speak, and Tovrin drops the text right where your cursor is \u2014 in any "
                            "app. Free account unlocks the trial: AI enhancement and cloud transcription.",
                            Kestal::title3(), Kestal::dim, this);
    paragraph->setContentsMargins(40, 0, 40, 0);
    column->addWidget(paragraph);

    column->addStretch(1);

    start_ = new QPushButton("Get Started", this);
    start_->setObjectName("startButton");
    KestalPrimaryButtonStyle::apply(start_);
    makeLarge(start_);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(40, 0, 40, 0);
    buttonRow->addWidget(start_);
    column->addLayout(buttonRow);
    connect(start_, &QPushButton::clicked, this, [this] {
        if (next_) next_();
    });
}
