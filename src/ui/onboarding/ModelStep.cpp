#include "ui/onboarding/ModelStep.h"

#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
#include "state/FailureText.h"
#include "platform/Log.h"
#include "platform/Http.h"
#include "platform/Machine.h"
#include "ui/kit/DownloadFailure.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalErrorText.h"
#include "ui/kit/KestalPrimaryButtonStyle.h"
#include "ui/kit/KestalSecondaryButtonStyle.h"
#include "ui/onboarding/ModelRow.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

QPushButton* largeButton(const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    b->setMinimumHeight(36);
    return b;
}

}  // namespace

ModelStep::ModelStep(std::function<void()> done, QWidget* parent)
    : ModelStep(std::move(done), platform::Machine::physicalMemory(), parent) {}

ModelStep::ModelStep(std::function<void()> done, std::uint64_t physicalMemory, QWidget* parent)
    : OnboardingStep(parent),
      done_(std::move(done)),
      recommended_(recommendedID(physicalMemory)),
      selected_(recommended_) {
    setObjectName("modelStep");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(40, 36, 40, 30);
    column->setSpacing(18);

    column->addLayout(heading(
        "Offline model \u2014 optional",
        "Tovrin Cloud transcribes on our servers, so you can start dictating right away. An offline model runs on "
        "this computer instead \u2014 private and it works without internet, but the download is large and it uses "
        "memory (RAM) while active. You can add one later in Settings."));

    // The six rows do not all fit the fixed window beside the header and the buttons on every
    // font setup, so they scroll when they have to.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("modelList");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    scroll->viewport()->setAutoFillBackground(false);
    QColor handle = Kestal::dim;
    handle.setAlphaF(0.5);
    scroll->verticalScrollBar()->setStyleSheet(
        QString("QScrollBar:vertical { background: transparent; width: 8px; margin: 0 0 0 2px; }"
                "QScrollBar::handle:vertical { background: %1; border-radius: 3px; min-height: 24px; }"
                "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
            .arg(Kestal::css(handle)));
    auto* list = new QWidget;
    list->setAutoFillBackground(false);
    auto* rowsLayout = new QVBoxLayout(list);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(18);
    for (const WhisperModel& model : ModelManager::catalog()) {
        const std::string id = model.id;
        auto* row = new ModelRow(model, id == recommended_, [this, id] { setSelected(id); }, list);
        rowsLayout->addWidget(row);
        rows_.push_back(row);
    }
    rowsLayout->addStretch(1);
    scroll->setWidget(list);
    column->addWidget(scroll, 1);

    errorLabel_ = new KestalErrorText({}, this);
    errorLabel_->setObjectName("errorLabel");
    errorLabel_->setFont(Kestal::caption());
    errorLabel_->hide();
    column->addWidget(errorLabel_);

    use_ = largeButton({}, this);
    use_->setObjectName("useButton");
    KestalPrimaryButtonStyle::apply(use_);
    column->addWidget(use_);
    connect(use_, &QPushButton::clicked, this, [this] { activateAndFinish(); });

    downloading_ = largeButton("Downloading\u2026", this);
    downloading_->setObjectName("downloadingButton");
    KestalPrimaryButtonStyle::apply(downloading_);
    downloading_->setEnabled(false);
    column->addWidget(downloading_);

    auto* choices = new QVBoxLayout;
    choices->setSpacing(8);
    download_ = largeButton({}, this);
    download_->setObjectName("downloadButton");
    KestalPrimaryButtonStyle::apply(download_);
    choices->addWidget(download_);
    connect(download_, &QPushButton::clicked, this, [this] { downloadSelected(); });
    skip_ = largeButton("Skip \u2014 use Tovrin Cloud", this);
    skip_->setObjectName("skipButton");
    KestalSecondaryButtonStyle::apply(skip_);
    choices->addWidget(skip_);
    connect(skip_, &QPushButton::clicked, this, [this] {
        if (done_) done_();
    });
    column->addLayout(choices);

    connect(&ModelManager::shared(), &ModelManager::changed, this, [this] { sync(); });
    sync();
}

std::string ModelStep::recommendedID(std::uint64_t physicalMemory) {
    return physicalMemory < kLargeModelMemory ? "small" : "large-v3-turbo";
}

std::string ModelStep::name(const std::string& id) {
    const auto model = ModelManager::model(id);
    return model ? model->name : id;
}

int ModelStep::size(const std::string& id) {
    const auto model = ModelManager::model(id);
    return model ? model->sizeMB : 0;
}

void ModelStep::appear() {
    // The largest installed model, when there is one.
    const auto& catalog = ModelManager::catalog();
    const auto& installed = ModelManager::shared().installed();
    for (auto it = catalog.rbegin(); it != catalog.rend(); ++it) {
        if (installed.count(it->id)) {
            setSelected(it->id);
            return;
        }
    }
}

void ModelStep::setSelected(const std::string& id) {
    selected_ = id;
    sync();
}

void ModelStep::activateAndFinish() { activate(selected_); }

void ModelStep::activate(const std::string& id) {
    ModelManager::shared().setActiveModelID(id);
    EngineManager& engine = EngineManager::shared();
    engine.restartForModelChange();
    // Nobody waits for the answer: the window closes while the server loads the model.
    platform::Task<bool> readiness = engine.waitUntilReady(kReadinessTimeout);
    (void)readiness;
    if (done_) done_();
}

void ModelStep::downloadSelected() {
    const auto model = ModelManager::model(selected_);
    if (!model) return;
    errorText_.reset();
    sync();
    fetch(*model);
}

platform::Task<> ModelStep::fetch(WhisperModel model) {
    QPointer<ModelStep> self(this);
    const std::string id = model.id;
    std::exception_ptr failure;
    try {
        platform::Task<void> transfer = ModelManager::shared().download(std::move(model));
        co_await std::move(transfer);
    } catch (...) {
        failure = std::current_exception();
        // The model manager logged the failure.
        qCDebug(logUi, "the first-run window shows a failed download: %s", FailureText::forLog(failure).c_str());
    }
    if (!self) co_return;
    if (failure) {
        self->errorText_ = DownloadFailure::text(failure);
        self->sync();
        co_return;
    }
    // The manager returns without fetching anything while another download runs; only a model
    // that is really on disk may become the active one. And it is the downloaded model that
    // becomes active, whatever row was picked while it came in.
    if (!ModelManager::shared().installed().count(id)) co_return;
    self->activate(id);
}

void ModelStep::sync() {
    const ModelManager& models = ModelManager::shared();
    const auto& installed = models.installed();
    const auto& downloading = models.downloading();
    for (ModelRow* r : rows_) {
        const std::string& id = r->model().id;
        r->setState(installed.count(id) > 0, id == selected_, downloading == id, models.progress());
    }

    errorLabel_->setText(errorText_.value_or(QString()));
    errorLabel_->setVisible(errorText_.has_value());

    const bool useCase = installed.count(selected_) > 0;
    const bool downloadingCase = !useCase && downloading.has_value();
    const bool chooseCase = !useCase && !downloadingCase;
    const QString selectedName = QString::fromStdString(name(selected_));
    use_->setText("Use " + selectedName + " \u2014 Finish");
    download_->setText("Download " + selectedName + " (" + QString::number(size(selected_)) + " MB)");
    use_->setVisible(useCase);
    downloading_->setVisible(downloadingCase);
    download_->setVisible(chooseCase);
    skip_->setVisible(chooseCase);
}
