#include "ui/main/LocalModelsView.h"

#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
#include "platform/Http.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalErrorText.h"
#include "ui/main/LocalModelRow.h"

#include <QVBoxLayout>

LocalModelsView::LocalModelsView(QWidget* parent) : QWidget(parent) {
    setObjectName("localModels");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    for (const WhisperModel& model : ModelManager::catalog()) {
        const std::string id = model.id;
        auto* r = new LocalModelRow(model, [this, id] { select(id); }, [this, id] { download(id); }, this);
        column->addWidget(r);
        rows_.push_back(r);
    }
    errorLabel_ = new KestalErrorText({}, this);
    errorLabel_->setObjectName("errorLabel");
    errorLabel_->setFont(Kestal::caption());
    errorLabel_->hide();
    column->addWidget(errorLabel_);
    connect(&ModelManager::shared(), &ModelManager::changed, this, [this] { sync(); });
    sync();
}


void LocalModelsView::select(const std::string& id) {
    ModelManager::shared().setActiveModelID(id);
    EngineManager& engine = EngineManager::shared();
    engine.restartForModelChange();
    // Nobody waits for the answer; the wait warms the new server up once it listens.
    platform::Task<bool> readiness = engine.waitUntilReady(kReadinessTimeout);
    (void)readiness;
}

void LocalModelsView::download(const std::string& id) {
    if (const auto model = ModelManager::model(id)) {
        showError({});
        fetch(this, *model);
    }
}

void LocalModelsView::showError(const QString& text) {
    errorLabel_->setText(text);
    errorLabel_->setVisible(!text.isEmpty());
}

platform::Task<void> LocalModelsView::fetch(QPointer<LocalModelsView> self, WhisperModel model) {
    ModelManager& models = ModelManager::shared();
    const std::string id = model.id;
    bool finished = false;
    try {
        platform::Task<void> transfer = models.download(std::move(model));
        // The manager returns at once, doing nothing, while another download runs.
        const bool ours = models.downloading() == id;
        co_await std::move(transfer);
        finished = ours;
    } catch (const platform::HttpError& e) {
        // A cancelled download says nothing; the row offers the download again either way.
        if (self && e.kind() != platform::HttpError::Kind::Cancelled)
            self->showError("Download failed: " + QString::fromStdString(e.what()));
    } catch (const std::exception& e) {
        if (self) self->showError("Download failed: " + QString::fromStdString(e.what()));
    }
    // The new model is active now; the engine is brought onto it the same way as for "Use",
    // so it does not keep serving the previous model (or stay down when there was none).
    if (finished && models.activeModelID() == id && models.installed().count(id)) {
        EngineManager& engine = EngineManager::shared();
        engine.restartForModelChange();
        platform::Task<bool> readiness = engine.waitUntilReady(kReadinessTimeout);
        (void)readiness;
    }
}

void LocalModelsView::sync() {
    const ModelManager& models = ModelManager::shared();
    for (LocalModelRow* r : rows_) {
        const std::string& id = r->model().id;
        r->showState(models.installed().count(id) > 0, models.activeModelID() == id, models.downloading() == id,
                  models.progress());
    }
}
