#include "ui/main/LocalModelRow.h"

#include "ui/kit/Kestal.h"
#include "ui/kit/KestalErrorText.h"
#include "platform/Symbols.h"
#include "ui/main/SmallButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

LocalModelRow::LocalModelRow(WhisperModel model, std::function<void()> select, std::function<void()> download,
                             QWidget* parent)
    : QWidget(parent), model_(std::move(model)), select_(std::move(select)) {
    setObjectName(QString::fromStdString("model-" + model_.id));
    setCursor(Qt::PointingHandCursor);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 4);
    row->setSpacing(10);

    symbol_ = new QLabel(this);
    symbol_->setFixedSize(16, 16);
    row->addWidget(symbol_, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title = new QHBoxLayout;
    title->setSpacing(5);
    name_ = Kestal::plainLabel(QString::fromStdString(model_.name), Kestal::font(12, QFont::Medium), Kestal::text, this);
    name_->setObjectName("nameLabel");
    title->addWidget(name_);
    installedMark_ = new QLabel(this);
    installedMark_->setObjectName("installedMark");
    installedMark_->setPixmap(Symbols::pixmap("checkmark.circle.fill", 10, Kestal::green, devicePixelRatioF()));
    title->addWidget(installedMark_);
    title->addStretch(1);
    texts->addLayout(title);
    note_ = Kestal::plainLabel(QString::fromStdString(model_.note), Kestal::caption2(), Kestal::dim, this);
    note_->setObjectName("noteLabel");
    note_->setWordWrap(true);
    texts->addWidget(note_);
    failure_ = new KestalErrorText({}, this);
    failure_->setObjectName("failureLabel");
    failure_->setFont(Kestal::caption2());
    failure_->hide();
    texts->addWidget(failure_);
    row->addLayout(texts, 1);

    use_ = SmallButton::create("Use", this);
    use_->setObjectName("useButton");
    row->addWidget(use_, 0, Qt::AlignVCenter);
    progress_ = new QProgressBar(this);
    progress_->setObjectName("progressBar");
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedSize(80, 6);
    row->addWidget(progress_, 0, Qt::AlignVCenter);
    download_ = SmallButton::create("Download " + QString::number(model_.sizeMB) + " MB", this);
    download_->setObjectName("downloadButton");
    row->addWidget(download_, 0, Qt::AlignVCenter);

    connect(use_, &QPushButton::clicked, this, [this] {
        if (select_) select_();
    });
    connect(download_, &QPushButton::clicked, this, [download = std::move(download)] {
        if (download) download();
    });
    showState(false, false, false, 0);
}

void LocalModelRow::showState(bool installed, bool active, bool downloading, double progress) {
    installed_ = installed;
    active_ = active;
    symbol_->setPixmap(Symbols::pixmap(stateSymbol(), 14, active ? Kestal::blue : Kestal::dim, devicePixelRatioF()));
    installedMark_->setVisible(installed);
    use_->setVisible(installed && !active);
    progress_->setVisible(!installed && downloading);
    progress_->setValue(static_cast<int>(std::lround(std::clamp(progress, 0.0, 1.0) * 1000)));
    download_->setVisible(!installed && !downloading);
}

void LocalModelRow::showFailure(const QString& text) {
    failure_->setText(text);
    failure_->setVisible(!text.isEmpty());
}

void LocalModelRow::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && installed_ && select_)
        select_();
}
