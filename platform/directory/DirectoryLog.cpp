#include "platform/directory/DirectoryLog.h"

Q_LOGGING_CATEGORY(lcDirectory, "cartfeeder.directory", QtWarningMsg)
Q_LOGGING_CATEGORY(lcProfile, "cartfeeder.profile", QtWarningMsg)
