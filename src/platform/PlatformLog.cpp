#include "PlatformLog.h"

Q_LOGGING_CATEGORY(lcPlatform, "zelvane.platform", QtInfoMsg)
