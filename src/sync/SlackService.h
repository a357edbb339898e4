#pragma once

#include "core/Error.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

// One Slack search hit.
struct SlackMessage {
    QString text;
    QString channel;
    QString username;
    QString timestamp;
    QString permalink;

    bool operator==(const SlackMessage &) const = default;
};

// Connects Slack and searches it for recent messages with a person.
class SlackService : public QObject {
    Q_OBJECT

public:
    explicit SlackService(QObject *parent = nullptr);
    ~SlackService() override;

    static SlackService &shared();

    bool isConnected() const;
    // Map e-mail address -> messages; never fails.
    QCoro::Task<QHash<QString, QList<SlackMessage>>> fetchContextForAttendees(QStringList emails);
};
