#include "engine/ModelManager.h"

ModelManager& ModelManager::shared() {
    static ModelManager manager;
    return manager;
}

ModelManager::ModelManager() = default;
