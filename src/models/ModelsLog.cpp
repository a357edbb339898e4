#include "ModelsLog.h"

Q_LOGGING_CATEGORY(lcModels, "zelvane.models", QtInfoMsg)
