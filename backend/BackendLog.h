#pragma once

#include <QLoggingCategory>

// The backend's own log; it names endpoints and statuses, never a token, code or credential.
Q_DECLARE_LOGGING_CATEGORY(lcBackend)
