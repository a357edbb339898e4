#include "ReminderLog.h"

Q_LOGGING_CATEGORY(lcReminders, "zelvane.reminders", QtInfoMsg)
