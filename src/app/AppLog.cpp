#include "AppLog.h"

Q_LOGGING_CATEGORY(lcApp, "zelvane.app", QtInfoMsg)
