#pragma once

#include <QLoggingCategory>

// zelvane.models: info and warnings by default; QT_LOGGING_RULES="zelvane.models.debug=true"
// adds debug.
Q_DECLARE_LOGGING_CATEGORY(lcModels)
