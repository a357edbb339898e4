#include "DoNotDisturb.h"

#include <QCoroDBusPendingCall>
#include <QCoroProcess>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>

namespace {
constexpr int answerLimitMs = 2000;
} // namespace

QCoro::Task<bool> DoNotDisturb::notificationsInhibited() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.Notifications") << QStringLiteral("Inhibited");
    const QDBusMessage reply =
        co_await QDBusConnection::sessionBus().asyncCall(call, answerLimitMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        co_return false;
    const QVariant value = reply.arguments().first().value<QDBusVariant>().variant();
    co_return value.typeId() == QMetaType::Bool &&value.toBool();
}

QCoro::Task<bool> DoNotDisturb::bannersHidden() {
    const QString program = QStringLiteral("gsettings");
    const QStringList arguments{QStringLiteral("get"),
                                QStringLiteral("org.gnome.desktop.notifications"),
                                QStringLiteral("show-banners")};
    const QByteArray hidden("false");
    QProcess process;
    auto coProcess = qCoro(process);
    const bool started = co_await coProcess.start(program, arguments, QIODevice::ReadOnly,
                                                  std::chrono::milliseconds(answerLimitMs));
    if (!started)
        co_return false;
    const bool finished =
        co_await coProcess.waitForFinished(std::chrono::milliseconds(answerLimitMs));
    const bool ok =
        finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    co_return ok &&process.readAllStandardOutput().trimmed() == hidden;
}

QCoro::Task<bool> DoNotDisturb::isOn() {
    const bool inhibited = co_await notificationsInhibited();
    if (inhibited)
        co_return true;
    const bool hidden = co_await bannersHidden();
    co_return hidden;
}
