#include "BackendLog.h"

Q_LOGGING_CATEGORY(lcBackend, "zelvane.backend")
