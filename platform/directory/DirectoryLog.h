#pragma once

#include <QLoggingCategory>

// Diagnostics of the user directory and of the playout profiles; warnings only by default.
Q_DECLARE_LOGGING_CATEGORY(lcDirectory)
Q_DECLARE_LOGGING_CATEGORY(lcProfile)
