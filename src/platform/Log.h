// The program's diagnostic log categories, one per layer. Messages go to standard error and to
// $XDG_STATE_HOME/Tovrin/tovrin.log once the start-up wiring installs the log file.
//
// What the log may hold: what failed and why (a status, an error text, a path, a count). Never
// what the user said or keeps: no transcript, no dictionary term, no API key, no token.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(logPlatform)
Q_DECLARE_LOGGING_CATEGORY(logStore)
Q_DECLARE_LOGGING_CATEGORY(logEngine)
Q_DECLARE_LOGGING_CATEGORY(logCloud)
Q_DECLARE_LOGGING_CATEGORY(logDictation)
Q_DECLARE_LOGGING_CATEGORY(logUi)
Q_DECLARE_LOGGING_CATEGORY(logApp)
