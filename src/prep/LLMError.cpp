#include "LLMError.h"

#include <QCoreApplication>

QString LLMError::description() const {
    switch (m_kind) {
    case Kind::apiError:
        return m_message;
    case Kind::parseError:
        return QCoreApplication::translate("LLMError", "Parse error: %1").arg(m_message);
    case Kind::noAPIKey:
        return QCoreApplication::translate("LLMError",
                                           "No API key configured. Add your API key in Settings.");
    case Kind::invalidResponse:
        return QCoreApplication::translate("LLMError", "Invalid response from LLM API");
    case Kind::redirected:
        return QCoreApplication::translate(
            "LLMError", "The provider redirected the request; check the address");
    }
    return {};
}
