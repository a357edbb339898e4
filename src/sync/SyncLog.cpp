#include "SyncLog.h"

Q_LOGGING_CATEGORY(lcSync, "zelvane.sync", QtInfoMsg)
