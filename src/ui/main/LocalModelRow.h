// One model of the on-device catalogue in the settings list: the active mark, the name with an
// installed check, the note, and the trailing control for the row's state ("Use", a progress
// bar while it downloads, or "Download <size> MB"). A click anywhere on an installed model's
// row selects it. A failed download is told under the note until the next attempt.
#pragma once

#include "state/WhisperModel.h"

#include <QWidget>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

class LocalModelRow : public QWidget {
    Q_OBJECT
public:
    LocalModelRow(WhisperModel model, std::function<void()> select, std::function<void()> download,
                  QWidget* parent = nullptr);

    const WhisperModel& model() const { return model_; }
    // Brings the row in line with the model manager's state.
    void showState(bool installed, bool active, bool downloading, double progress);

    // "Download failed: …" under the note; an empty text hides it.
    void showFailure(const QString& text);

    bool isInstalled() const { return installed_; }
    bool isActive() const { return active_; }
    // "largecircle.fill.circle" for the active model, else "circle".
    QString stateSymbol() const { return active_ ? "largecircle.fill.circle" : "circle"; }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    WhisperModel model_;
    std::function<void()> select_;
    bool installed_ = false;
    bool active_ = false;
    QLabel* symbol_;
    QLabel* name_;
    QLabel* installedMark_;
    QLabel* note_;
    QLabel* failure_;
    QPushButton* use_;
    QPushButton* download_;
    QProgressBar* progress_;
};
