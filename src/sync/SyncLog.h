#pragma once

#include <QLoggingCategory>

// zelvane.sync: info and warnings by default; QT_LOGGING_RULES="zelvane.sync.debug=true" adds
// debug.
Q_DECLARE_LOGGING_CATEGORY(lcSync)
