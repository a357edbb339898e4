#pragma once

#include "platform/Error.h"

#include <QString>

class SlackError : public Error {
public:
    enum class Kind { apiError, notConnected, authTimeout, authFailed, requestFailed, cancelled };

    static SlackError apiError(QString message) {
        return SlackError(Kind::apiError, std::move(message));
    }
    static SlackError notConnected() { return SlackError(Kind::notConnected); }
    static SlackError authTimeout() { return SlackError(Kind::authTimeout); }
    static SlackError authFailed() { return SlackError(Kind::authFailed); }
    static SlackError requestFailed() { return SlackError(Kind::requestFailed); }
    static SlackError cancelled() { return SlackError(Kind::cancelled); }

    Kind kind() const { return m_kind; }
    QString description() const override;

private:
    explicit SlackError(Kind kind, QString message = {})
        : m_kind(kind)
        , m_message(std::move(message)) {}

    Kind m_kind;
    QString m_message;
};
