#pragma once

#include <QLoggingCategory>

// zelvane.app: info and warnings by default; QT_LOGGING_RULES="zelvane.app.debug=true" adds debug.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
