#include "AccountRegistry.h"

#include "SyncLog.h"
#include "core/AppSettings.h"
#include "core/JsonRead.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

AccountRegistry::AccountRegistry(AppSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings) {
    const QByteArray data = m_settings.value(AppSettings::Key::ConnectedAccounts).toByteArray();
    if (data.isEmpty())
        return;
    // One bad record makes the whole list unreadable.
    try {
        QList<ConnectedAccount> accounts;
        for (const QJsonValue &value : JsonRead::array(data))
            accounts.append(ConnectedAccount::fromJson(value));
        m_accounts = std::move(accounts);
    } catch (const DecodingError &error) {
        qCWarning(lcSync) << "the stored accounts are unreadable:" << error.detail();
    }
}

bool AccountRegistry::contains(const QString &accountId) const {
    return std::any_of(m_accounts.cbegin(), m_accounts.cend(),
                       [&](const ConnectedAccount &a) { return a.id == accountId; });
}

QSet<CalendarProvider> AccountRegistry::connectedProviders() const {
    QSet<CalendarProvider> providers;
    for (const ConnectedAccount &account : m_accounts)
        providers.insert(account.provider);
    return providers;
}

QSet<QString> AccountRegistry::userDomains() const {
    QSet<QString> domains;
    for (const ConnectedAccount &account : m_accounts) {
        // A feed's or the desktop's name is no address of the user's.
        if (account.provider == CalendarProvider::feed ||
            account.provider == CalendarProvider::desktop)
            continue;
        const QStringList parts = account.email.split(u'@');
        if (parts.size() == 2 && !parts.at(1).isEmpty())
            domains.insert(parts.at(1).toLower());
    }
    return domains;
}

void AccountRegistry::add(const ConnectedAccount &account) {
    QList<ConnectedAccount> accounts = m_accounts;
    accounts.append(account);
    setAccounts(std::move(accounts));
    m_settings.addDefaultReminders(account.id);
}

void AccountRegistry::remove(const QString &accountId) {
    QList<ConnectedAccount> remaining;
    std::optional<ConnectedAccount> removed;
    for (const ConnectedAccount &a : std::as_const(m_accounts)) {
        if (a.id == accountId)
            removed = a;
        else
            remaining.append(a);
    }
    if (!removed)
        return;
    setAccounts(std::move(remaining));
    m_settings.removeReminders(accountId);
    m_settings.setAlertStyle(accountId, AlertStyle::fullScreen);
    Q_EMIT accountRemoved(*removed);
}

void AccountRegistry::setAccounts(QList<ConnectedAccount> accounts) {
    m_accounts = std::move(accounts);
    QJsonArray array;
    for (const ConnectedAccount &account : std::as_const(m_accounts))
        array.append(account.toJson());
    m_settings.setValue(AppSettings::Key::ConnectedAccounts,
                        QJsonDocument(array).toJson(QJsonDocument::Compact));
    Q_EMIT accountsChanged();
}
