#include "CoreLog.h"

Q_LOGGING_CATEGORY(lcCore, "zelvane.core", QtInfoMsg)
