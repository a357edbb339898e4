#pragma once

#include <QLoggingCategory>

// zelvane.platform: info and warnings by default; QT_LOGGING_RULES="zelvane.platform.debug=true"
// adds debug.
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
