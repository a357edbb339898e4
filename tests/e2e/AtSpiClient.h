#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// An assistive tool's view of the desktop, read the way Orca reads it: over the accessibility
// bus (AT-SPI 2), which the session bus's org.a11y.Bus hands out.
class AtSpiClient {
public:
    // One accessible object: the bus name of the program that shows it and its path there.
    struct Node {
        QString service;
        QDBusObjectPath path;
        bool operator==(const Node &) const = default;
    };

    // AT-SPI state bits (AtspiStateType).
    enum State { checked = 4, selected = 23, showing = 25 };

    bool connect() {
        qDBusRegisterMetaType<Node>();
        qDBusRegisterMetaType<QList<Node>>();
        const QDBusMessage reply =
            QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
                QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
        if (reply.type() != QDBusMessage::ReplyMessage) {
            m_error = reply.errorMessage();
            return false;
        }
        m_bus = QDBusConnection::connectToBus(reply.arguments().value(0).toString(),
                                              QStringLiteral("a11y"));
        if (!m_bus.isConnected())
            m_error = m_bus.lastError().message();
        return m_bus.isConnected();
    }
    QString error() const { return m_error; }

    // The programs registered with the desktop's registry.
    QList<Node> applications() {
        return children({QStringLiteral("org.a11y.atspi.Registry"),
                         QDBusObjectPath(QStringLiteral("/org/a11y/atspi/accessible/root"))});
    }

    QList<Node> children(const Node &node) {
        const QDBusMessage reply =
            call(node, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren"));
        QList<Node> nodes;
        if (reply.type() == QDBusMessage::ReplyMessage)
            reply.arguments().value(0).value<QDBusArgument>() >> nodes;
        return nodes;
    }
    QString name(const Node &node) {
        const QDBusMessage reply =
            call(node, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                 {QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name")});
        return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
    }
    QString role(const Node &node) {
        return call(node, QStringLiteral("org.a11y.atspi.Accessible"),
                    QStringLiteral("GetRoleName"))
            .arguments()
            .value(0)
            .toString();
    }
    bool has(const Node &node, State state) {
        const QDBusMessage reply =
            call(node, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetState"));
        QList<uint> words;
        if (reply.type() == QDBusMessage::ReplyMessage)
            reply.arguments().value(0).value<QDBusArgument>() >> words;
        const int bit = int(state);
        return words.size() > bit / 32 && (words[bit / 32] >> (bit % 32)) & 1u;
    }
    QStringList actions(const Node &node) {
        QStringList names;
        const int count =
            call(node, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                 {QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("NActions")})
                .arguments()
                .value(0)
                .value<QDBusVariant>()
                .variant()
                .toInt();
        for (int i = 0; i < count; ++i)
            names << call(node, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("GetName"),
                          {i})
                         .arguments()
                         .value(0)
                         .toString();
        return names;
    }
    // What a screen reader's "activate" does: the first action.
    bool activate(const Node &node) {
        return call(node, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("DoAction"), {0})
            .arguments()
            .value(0)
            .toBool();
    }

    // The first node under `root`, depth first, that `match` accepts.
    std::optional<Node> find(const Node &root, const std::function<bool(const Node &)> &match,
                             int depth = 0) {
        if (depth > 30)
            return std::nullopt;
        for (const Node &child : children(root)) {
            if (match(child))
                return child;
            if (auto found = find(child, match, depth + 1))
                return found;
        }
        return std::nullopt;
    }

private:
    QDBusMessage call(const Node &node, const QString &interface, const QString &method,
                      const QVariantList &arguments = {}) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(node.service, node.path.path(), interface, method);
        message.setArguments(arguments);
        return m_bus.call(message, QDBus::Block, 5000);
    }

    QDBusConnection m_bus{QStringLiteral("unset")};
    QString m_error;
};

inline QDBusArgument &operator<<(QDBusArgument &argument, const AtSpiClient::Node &node) {
    argument.beginStructure();
    argument << node.service << node.path;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument &operator>>(const QDBusArgument &argument, AtSpiClient::Node &node) {
    argument.beginStructure();
    argument >> node.service >> node.path;
    argument.endStructure();
    return argument;
}

Q_DECLARE_METATYPE(AtSpiClient::Node)
