#include "platform/directory/DirectoryLog.h"

Q_LOGGING_CATEGORY(lcDirectory, "cartfeeder.directory", QtWarningMsg)
