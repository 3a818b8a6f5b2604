#pragma once

#include <QLoggingCategory>

// Diagnostics of the playout profiles; warnings only by default.
Q_DECLARE_LOGGING_CATEGORY(lcProfile)
