#include "LLMError.h"

QString LLMError::description() const {
    switch (m_kind) {
    case Kind::apiError:
        return m_message;
    case Kind::parseError:
        return QStringLiteral("Parse error: ") + m_message;
    case Kind::noAPIKey:
        return QStringLiteral("No API key configured. Add your API key in Settings.");
    case Kind::invalidResponse:
        return QStringLiteral("Invalid response from LLM API");
    case Kind::redirected:
        return QStringLiteral("The provider redirected the request; check the address");
    }
    return {};
}
