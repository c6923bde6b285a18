#include "ui/overlay/FloatingWidget.h"

FloatingWidget::FloatingWidget() = default;
FloatingWidget::~FloatingWidget() = default;

void FloatingWidget::showRecording() {}
void FloatingWidget::showProcessing() {}
void FloatingWidget::showEnhancing() {}
void FloatingWidget::flashResult(const std::string&, bool) {}
void FloatingWidget::hide() {}
void FloatingWidget::pushLevel(float) {}
