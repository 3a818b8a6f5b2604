#pragma once

#include <QLoggingCategory>

// Diagnostics of the cart store and its audio decoding; warnings only by default.
Q_DECLARE_LOGGING_CATEGORY(lcStore)
