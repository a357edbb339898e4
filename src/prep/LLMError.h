#pragma once

#include "platform/Error.h"

#include <QString>

// A failure of a model-provider call that the user can be told about.
class LLMError : public Error {
public:
    enum class Kind { apiError, parseError, noAPIKey, invalidResponse, redirected };

    static LLMError apiError(QString message) { return {Kind::apiError, std::move(message)}; }
    static LLMError parseError(QString message) { return {Kind::parseError, std::move(message)}; }
    static LLMError noAPIKey() { return {Kind::noAPIKey, {}}; }
    static LLMError invalidResponse() { return {Kind::invalidResponse, {}}; }
    // The provider answered with a redirect to another origin, which is never followed.
    static LLMError redirected() { return {Kind::redirected, {}}; }

    Kind kind() const { return m_kind; }
    // The payload of apiError and parseError; empty for the others.
    const QString &message() const { return m_message; }
    QString description() const override;

private:
    LLMError(Kind kind, QString message)
        : m_kind(kind)
        , m_message(std::move(message)) {}

    Kind m_kind;
    QString m_message;
};
