#include "HostLookup.h"

#include "PlatformLog.h"

#include <QCoroFuture>
#include <QPromise>
#include <arpa/inet.h>
#include <netdb.h>
#include <pthread.h>
#include <system_error>
#include <thread>

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
    QPromise<bool> promise;
    QFuture<bool> found = promise.future();
    promise.start();
    try {
        // Detached: the answer comes through the promise, and the thread ends on its own, so
        // the main thread never waits for it to wind down.
        std::thread([name, promise = std::move(promise)]() mutable {
            ::pthread_setname_np(::pthread_self(), "host lookup");
            addrinfo hints = {};
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_ADDRCONFIG;
            addrinfo *result = nullptr;
            const bool resolved = ::getaddrinfo(name.constData(), nullptr, &hints, &result) == 0;
            if (resolved)
                ::freeaddrinfo(result);
            promise.addResult(resolved);
            promise.finish();
        }).detach();
    } catch (const std::system_error &error) {
        // Without a thread there is no telling; the caller's own transfer will find out.
        qCWarning(lcPlatform) << "no thread for looking up" << host << error.what();
        co_return true;
    }
    co_return co_await found;
}
