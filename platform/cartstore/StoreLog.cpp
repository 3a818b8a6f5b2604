#include "platform/cartstore/StoreLog.h"

Q_LOGGING_CATEGORY(lcStore, "cartfeeder.store", QtWarningMsg)
