// The on-device models in the settings: one row per catalogue entry, in catalogue order, that
// follows the model manager (installed, active, downloading with its progress). Selecting an
// installed model makes it active and restarts the local engine with it.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/Task.h"

#include <string>
#include <vector>

class LocalModelRow;
class QLabel;
struct WhisperModel;

class LocalModelsView : public QWidget {
    Q_OBJECT
public:
    // How long the engine is given to come up with a newly selected model.
    static constexpr double kReadinessTimeout = 90;

    explicit LocalModelsView(QWidget* parent = nullptr);

    // Makes the model active (stored by the model manager), then asks the engine to restart
    // with it and waits for it in the background. Also for the model that is already active.
    void select(const std::string& id);
    // Starts the download of the model; once it is in and active, the engine restarts with it.
    // A failure is told under the row ("Download failed: " and why) until the next attempt; the
    // row offers its "Download" button again. A cancelled download says nothing.
    void download(const std::string& id);

    const std::vector<LocalModelRow*>& rows() const { return rows_; }

private:
    platform::Task<void> fetch(WhisperModel model);
    LocalModelRow* row(const std::string& id) const;
    void sync();

    std::vector<LocalModelRow*> rows_;
};
