#include "ui/main/LocalModelsView.h"

#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
#include "state/FailureText.h"
#include "platform/Log.h"
#include "ui/kit/DownloadFailure.h"
#include "ui/main/LocalModelRow.h"

#include <QPointer>
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
    const auto model = ModelManager::model(id);
    if (!model) return;
    if (LocalModelRow* r = row(id)) r->showFailure({});
    fetch(*model);
}

LocalModelRow* LocalModelsView::row(const std::string& id) const {
    for (LocalModelRow* r : rows_)
        if (r->model().id == id) return r;
    return nullptr;
}

platform::Task<void> LocalModelsView::fetch(WhisperModel model) {
    QPointer<LocalModelsView> self(this);
    ModelManager& models = ModelManager::shared();
    const std::string id = model.id;
    bool finished = false;
    std::exception_ptr failure;
    try {
        platform::Task<void> transfer = models.download(std::move(model));
        // The manager returns at once, doing nothing, while another download runs.
        const bool ours = models.downloading() == id;
        co_await std::move(transfer);
        finished = ours;
    } catch (...) {
        failure = std::current_exception();
        // The model manager logged the failure.
        qCDebug(logUi, "the model row shows a failed download: %s", FailureText::forLog(failure).c_str());
    }
    // The row says why the model did not come (a cancel says nothing) and offers the download
    // again, the manager being idle now.
    if (failure && self)
        if (LocalModelRow* r = self->row(id)) r->showFailure(DownloadFailure::text(failure).value_or(QString()));
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
