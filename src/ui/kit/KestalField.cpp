#include "ui/kit/KestalField.h"

#include "ui/kit/Kestal.h"
#include "ui/kit/KestalCard.h"
#include "ui/kit/KestalSectionHeader.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

// The rounded box around the input; paints the fill and the focus-dependent border.
class KestalField::Frame : public QWidget {
public:
    explicit Frame(KestalField* owner) : QWidget(owner), owner_(owner) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        KestalCard::paintCard(p, QRectF(rect()), 8, Kestal::surface, owner_->borderColor());
    }

private:
    KestalField* owner_;
};

KestalField::KestalField(const QString& label, bool isSecure, const QString& placeholder, ContentType contentType,
                         QWidget* parent)
    : QWidget(parent), label_(label), isSecure_(isSecure) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    labelView_ = new QLabel(label.toUpper(), this);
    KestalSectionHeader::style(labelView_);
    column->addWidget(labelView_, 0, Qt::AlignLeft);

    frame_ = new Frame(this);
    auto* inset = new QHBoxLayout(frame_);
    inset->setContentsMargins(10, 8, 10, 8);
    input_ = new QLineEdit(frame_);
    input_->setObjectName("fieldInput");
    input_->setFrame(false);
    input_->setPlaceholderText(placeholder);
    input_->setEchoMode(isSecure ? QLineEdit::Password : QLineEdit::Normal);
    input_->setFont(Kestal::body());
    input_->setAttribute(Qt::WA_MacShowFocusRect, false);
    input_->setStyleSheet(QString("QLineEdit { background: transparent; border: none; padding: 0; color: %1; }")
                              .arg(Kestal::css(Kestal::text)));
    QPalette pal = input_->palette();
    pal.setColor(QPalette::PlaceholderText, Kestal::faint);
    input_->setPalette(pal);
    Qt::InputMethodHints hints = Qt::ImhNone;
    switch (contentType) {
    case ContentType::emailAddress: hints = Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase; break;
    case ContentType::url: hints = Qt::ImhUrlCharactersOnly | Qt::ImhNoAutoUppercase; break;
    case ContentType::password:
    case ContentType::newPassword: hints = Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText; break;
    case ContentType::none: break;
    }
    if (isSecure) hints |= Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText;
    input_->setInputMethodHints(hints);
    inset->addWidget(input_);
    column->addWidget(frame_);

    input_->installEventFilter(this);
    connect(input_, &QLineEdit::textChanged, this, &KestalField::textChanged);
    setFocusProxy(input_);
    // A field is as tall as its label and one line of input; extra room goes elsewhere.
    frame_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString KestalField::text() const { return input_->text(); }
void KestalField::setText(const QString& text) { input_->setText(text); }

QColor KestalField::borderColor() const { return focused_ ? Kestal::blue : Kestal::border; }

bool KestalField::eventFilter(QObject* watched, QEvent* event) {
    if (watched == input_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        focused_ = event->type() == QEvent::FocusIn;
        frame_->update();
    }
    return QWidget::eventFilter(watched, event);
}
