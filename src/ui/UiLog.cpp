#include "UiLog.h"

Q_LOGGING_CATEGORY(lcUi, "zelvane.ui", QtInfoMsg)
