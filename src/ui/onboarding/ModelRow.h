// One on-device model in the model step: a selectable row with a radio mark, the model's name,
// the recommendation badge, an installed mark, its note, the download's progress while it is
// being fetched, and "Ready" or its size.
#pragma once

#include "state/WhisperModel.h"

#include <QAbstractButton>

#include <functional>

class QLabel;
class QProgressBar;

class ModelRow : public QAbstractButton {
    Q_OBJECT
public:
    ModelRow(WhisperModel model, bool isRecommended, std::function<void()> onSelect, QWidget* parent = nullptr);

    void setState(bool isInstalled, bool isSelected, bool isDownloading, double progress);

    const WhisperModel& model() const { return model_; }
    bool isInstalled() const { return isInstalled_; }
    bool isSelected() const { return isSelected_; }
    bool isDownloading() const { return isDownloading_; }
    double progress() const { return progress_; }
    bool isRecommended() const { return isRecommended_; }

    // The radio mark's symbol name now ("largecircle.fill.circle" selected, else "circle").
    QString radioSymbol() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void refreshLook();

    WhisperModel model_;
    bool isRecommended_;
    std::function<void()> onSelect_;
    bool isInstalled_ = false;
    bool isSelected_ = false;
    bool isDownloading_ = false;
    double progress_ = 0;

    QLabel* radio_;
    QLabel* badge_;
    QLabel* installedMark_;
    QProgressBar* progressBar_;
    QLabel* status_;
};
