#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <chrono>

// One answer of the stand-in. `delay` holds the answer back (fault injection); every answer
// closes the connection afterwards.
struct HttpResponse {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> extraHeaders;
    std::chrono::milliseconds delay{0};

    static HttpResponse json(const QJsonObject &object, int status = 200);
    static HttpResponse error(int status, const QString &message);
    static HttpResponse html(const QString &title, const QString &bodyMarkup, int status = 200);
    static HttpResponse redirect(const QUrl &location);

    QByteArray serialize() const;
};
