#include "platform/StoreLog.h"

Q_LOGGING_CATEGORY(lcStore, "cartfeeder.store", QtWarningMsg)
