#include "HttpResponse.h"

#include <QJsonDocument>

namespace {

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Content Too Large";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

HttpResponse HttpResponse::json(const QJsonObject &object, int status) {
    HttpResponse response;
    response.status = status;
    response.contentType = "application/json";
    response.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return response;
}

HttpResponse HttpResponse::error(int status, const QString &message) {
    return json(QJsonObject{{QStringLiteral("error"), message}}, status);
}

HttpResponse HttpResponse::html(const QString &title, const QString &bodyMarkup, int status) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    response.body = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1"
                                   "</title></head>\n<body>\n%2\n</body></html>\n")
                        .arg(title.toHtmlEscaped(), bodyMarkup)
                        .toUtf8();
    return response;
}

HttpResponse HttpResponse::redirect(const QUrl &location) {
    HttpResponse response;
    response.status = 302;
    response.extraHeaders.append({"Location", location.toEncoded()});
    return response;
}

QByteArray HttpResponse::serialize() const {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    for (const auto &[name, value] : extraHeaders)
        out += name + ": " + value + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    out += body;
    return out;
}
