#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <chrono>
#include <optional>

// One answer from a provider; status 0 when none came (transport failure, time out, a body
// over the size limit).
struct UpstreamReply {
    int status = 0;
    QByteArray body;
    std::optional<std::chrono::milliseconds> retryAfter;
};

// Calls a provider's HTTP API within the deadline of the request being served. Transport
// failures, 429 and 5xx are tried again: after Retry-After when the provider names one,
// otherwise with a doubling back-off; a wait that would pass the deadline is not taken and
// the last answer is returned instead. A request that must not take effect twice (a text
// message) is sent again only after a 429, the one answer that says nothing was done.
class UpstreamClient {
public:
    static constexpr int maxAttempts = 4;
    static constexpr std::chrono::milliseconds firstBackOff{250};
    static constexpr qint64 maxBodyBytes = 8 * 1024 * 1024;

    enum class Resend { onFailure, onlyWhenThrottled };

    explicit UpstreamClient(QNetworkAccessManager &network)
        : m_network(network) {}

    QCoro::Task<UpstreamReply> send(QByteArray verb, QNetworkRequest request, QByteArray body,
                                    QDeadlineTimer deadline, Resend resend = Resend::onFailure);

    using Form = QList<std::pair<QString, QString>>;

    // A POST of an application/x-www-form-urlencoded body, as OAuth and the gateways take it.
    QCoro::Task<UpstreamReply> postForm(QNetworkRequest request, Form fields,
                                        QDeadlineTimer deadline, Resend resend = Resend::onFailure);

private:
    QCoro::Task<UpstreamReply> sendOnce(const QByteArray &verb, QNetworkRequest request,
                                        const QByteArray &body, QDeadlineTimer deadline);

    QNetworkAccessManager &m_network;
};
