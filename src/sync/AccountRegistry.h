#pragma once

#include "core/CalendarEvent.h"

#include <QList>
#include <QObject>
#include <QSet>

class AppSettings;

// The connected calendar accounts, kept in the settings file (secrets stay in the keyring).
class AccountRegistry : public QObject {
    Q_OBJECT

public:
    explicit AccountRegistry(AppSettings &settings, QObject *parent = nullptr);

    const QList<ConnectedAccount> &accounts() const { return m_accounts; }
    bool contains(const QString &accountId) const;
    QSet<CalendarProvider> connectedProviders() const;
    // Lower-case domains of the accounts' addresses.
    QSet<QString> userDomains() const;

    // Adds the account with the default lead times.
    void add(const ConnectedAccount &account);
    // Removes the account and its lead times; announces accountRemoved after accountsChanged.
    void remove(const QString &accountId);

Q_SIGNALS:
    void accountsChanged();
    void accountRemoved(const ConnectedAccount &account);

private:
    void setAccounts(QList<ConnectedAccount> accounts);

    AppSettings &m_settings;
    QList<ConnectedAccount> m_accounts;
};
