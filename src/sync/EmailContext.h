#pragma once

#include "ProxyRecords.h"
#include "core/CalendarEvent.h"

#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QStringList>

class AccountRegistry;
class CalendarProxyClient;

// The user's recent e-mail with the people of a meeting, searched in every connected account.
class EmailContext : public QObject {
    Q_OBJECT

public:
    static constexpr int limit = 5;

    EmailContext(AccountRegistry &accounts, CalendarProxyClient &proxy, QObject *parent = nullptr);

    // Recent e-mail with each address, from every account; never fails.
    QCoro::Task<QHash<QString, QList<EmailThread>>> fetch(QStringList emails);
    static EmailThread emailThread(const ProxyMessage &message);

private:
    AccountRegistry &m_accounts;
    CalendarProxyClient &m_proxy;
};
