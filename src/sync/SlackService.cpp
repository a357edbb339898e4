#include "SlackService.h"

#include "KeychainService.h"

SlackService::SlackService(QObject *parent)
    : QObject(parent) {}

SlackService::~SlackService() = default;

SlackService &SlackService::shared() {
    static SlackService *instance = new SlackService;
    return *instance;
}

bool SlackService::isConnected() const {
    return KeychainService::load(QString::fromLatin1(KeychainService::slackToken)).has_value();
}

QCoro::Task<QHash<QString, QList<SlackMessage>>>
SlackService::fetchContextForAttendees(QStringList) {
    co_return {};
}
