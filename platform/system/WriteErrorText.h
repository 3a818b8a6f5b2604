#pragma once

#include <QString>

class QFileDevice;

// Why a write to file has just failed. Qt's buffered writes lose the system's reason ("Unknown
// error"), but errno still holds it: set errno to 0 before the write and ask right after it.
QString WriteErrorText(const QFileDevice& file);
