#include "PrepLog.h"

Q_LOGGING_CATEGORY(lcPrep, "zelvane.prep", QtInfoMsg)
