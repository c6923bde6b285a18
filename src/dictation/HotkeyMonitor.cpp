#include "dictation/HotkeyMonitor.h"

HotkeyMonitor::HotkeyMonitor() = default;
HotkeyMonitor::~HotkeyMonitor() = default;

void HotkeyMonitor::start() {}
void HotkeyMonitor::setEscSwallow(bool) {}
