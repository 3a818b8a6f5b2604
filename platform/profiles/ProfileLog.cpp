#include "platform/profiles/ProfileLog.h"

Q_LOGGING_CATEGORY(lcProfile, "cartfeeder.profile", QtWarningMsg)
