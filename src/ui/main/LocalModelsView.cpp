#include "ui/main/LocalModelsView.h"

#include "engine/EngineManager.h"
#include "engine/ModelManager.h"
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
    QPointer<LocalModelsView> self(this);
    modelsConnection_ = ModelManager::shared().changed.connect([self] {
        if (self) self->sync();
    });
    sync();
}

LocalModelsView::~LocalModelsView() { ModelManager::shared().changed.disconnect(modelsConnection_); }

LocalModelRow* LocalModelsView::row(const std::string& id) const {
    for (LocalModelRow* r : rows_)
        if (r->model().id == id) return r;
    return nullptr;
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
    if (const auto model = ModelManager::model(id)) fetch(*model);
}

platform::Task<void> LocalModelsView::fetch(WhisperModel model) {
    // A failed or cancelled download shows nothing here: the row offers the download again
    // once the manager is idle.
    try {
        platform::Task<void> transfer = ModelManager::shared().download(std::move(model));
        co_await std::move(transfer);
    } catch (...) {
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
