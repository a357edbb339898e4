#pragma once

#include <QLoggingCategory>

// zelvane.core: info and warnings by default; QT_LOGGING_RULES="zelvane.core.debug=true" adds
// debug.
Q_DECLARE_LOGGING_CATEGORY(lcCore)
