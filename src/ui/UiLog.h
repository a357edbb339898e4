#pragma once

#include <QLoggingCategory>

// zelvane.ui: info and warnings by default; QT_LOGGING_RULES="zelvane.ui.debug=true" adds debug.
Q_DECLARE_LOGGING_CATEGORY(lcUi)
