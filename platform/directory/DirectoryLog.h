#pragma once

#include <QLoggingCategory>

// Diagnostics of the user directory; warnings only by default.
Q_DECLARE_LOGGING_CATEGORY(lcDirectory)
