#include "HostLookup.h"

#include <QCoroFuture>
#include <QPromise>
#include <QThreadPool>
#include <arpa/inet.h>
#include <memory>
#include <netdb.h>

namespace {
bool isAddress(const QByteArray &host) {
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.constData(), address) == 1 ||
           ::inet_pton(AF_INET6, host.constData(), address) == 1;
}
} // namespace

QCoro::Task<bool> HostLookup::resolves(QString host) {
    const QByteArray name = host.toUtf8();
    if (isAddress(name))
        co_return true;
    auto promise = std::make_shared<QPromise<bool>>();
    QFuture<bool> found = promise->future();
    promise->start();
    // On the shared pool, whose threads stay for the next job: a thread of its own would cost
    // the look-up's price again in starting and ending it. A dead name server holds one pool
    // thread for the resolver's timeout; the other keeps serving.
    QThreadPool::globalInstance()->start([name, promise] {
        addrinfo hints = {};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ADDRCONFIG;
        addrinfo *result = nullptr;
        const bool resolved = ::getaddrinfo(name.constData(), nullptr, &hints, &result) == 0;
        if (resolved)
            ::freeaddrinfo(result);
        promise->addResult(resolved);
        promise->finish();
    });
    co_return co_await found;
}
