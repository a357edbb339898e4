#pragma once

#include <QLoggingCategory>

// zelvane.prep: info and warnings by default; QT_LOGGING_RULES="zelvane.prep.debug=true" adds
// debug.
Q_DECLARE_LOGGING_CATEGORY(lcPrep)
