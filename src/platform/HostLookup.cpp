#include "HostLookup.h"

#include <QCoroThread>
#include <QThread>
#include <arpa/inet.h>
#include <atomic>
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
    auto found = std::make_shared<std::atomic_bool>(false);
    QThread *thread = QThread::create([name, found] {
        addrinfo hints = {};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ADDRCONFIG;
        addrinfo *result = nullptr;
        if (::getaddrinfo(name.constData(), nullptr, &hints, &result) == 0) {
            found->store(true);
            ::freeaddrinfo(result);
        }
    });
    thread->setObjectName(QStringLiteral("host lookup"));
    thread->start();
    co_await qCoro(thread).waitForFinished();
    thread->wait();
    delete thread;
    co_return found->load();
}
