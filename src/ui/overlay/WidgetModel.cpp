#include "ui/overlay/WidgetModel.h"

void WidgetModel::setState(const WidgetState& s) {
    state_ = s;
    emit changed();
}

void WidgetModel::setElapsed(double seconds) {
    elapsed_ = seconds;
    emit changed();
}

void WidgetModel::setProcessingLabel(const std::string& label) {
    processingLabel_ = label;
    emit changed();
}

void WidgetModel::setScale(double s) {
    scale_ = s;
    emit changed();
}

void WidgetModel::pushLevel(float level) {
    level_ = level;
    emit changed();
}
