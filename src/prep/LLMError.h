#pragma once

#include "platform/Error.h"

#include <QString>

// A failure of a model-provider call that the user can be told about.
class LLMError : public Error {
public:
    enum class Kind { apiError, parseError, noAPIKey, invalidResponse };

    static LLMError apiError(QString message) { return {Kind::apiError, std::move(message)}; }
    static LLMError parseError(QString message) { return {Kind::parseError, std::move(message)}; }
    static LLMError noAPIKey() { return {Kind::noAPIKey, {}}; }
    static LLMError invalidResponse() { return {Kind::invalidResponse, {}}; }

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

// The network layer's own failure (refused connection, reset, TLS), passed on unchanged.
class LLMTransportError : public Error {
public:
    LLMTransportError(int code, QString text)
        : m_code(code)
        , m_text(std::move(text)) {}
    // QNetworkReply::NetworkError
    int code() const { return m_code; }
    QString description() const override { return m_text; }

private:
    int m_code;
    QString m_text;
};

// A reply body or tool-argument text that is not JSON, as the JSON parser reports it.
class LLMJsonError : public Error {
public:
    explicit LLMJsonError(QString text)
        : m_text(std::move(text)) {}
    QString description() const override { return m_text; }

private:
    QString m_text;
};
