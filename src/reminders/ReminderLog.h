#pragma once

#include <QLoggingCategory>

// zelvane.reminders: info and warnings by default; QT_LOGGING_RULES="zelvane.reminders.debug=true"
// adds debug.
Q_DECLARE_LOGGING_CATEGORY(lcReminders)
