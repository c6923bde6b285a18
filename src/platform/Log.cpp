#include "platform/Log.h"

// Debug messages are off unless QT_LOGGING_RULES turns them on; warnings and above are kept.
Q_LOGGING_CATEGORY(logPlatform, "tovrin.platform", QtInfoMsg)
Q_LOGGING_CATEGORY(logStore, "tovrin.store", QtInfoMsg)
Q_LOGGING_CATEGORY(logEngine, "tovrin.engine", QtInfoMsg)
Q_LOGGING_CATEGORY(logCloud, "tovrin.cloud", QtInfoMsg)
Q_LOGGING_CATEGORY(logDictation, "tovrin.dictation", QtInfoMsg)
Q_LOGGING_CATEGORY(logUi, "tovrin.ui", QtInfoMsg)
Q_LOGGING_CATEGORY(logApp, "tovrin.app", QtInfoMsg)
