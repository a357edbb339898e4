#include "EmailContext.h"

#include "AccountRegistry.h"
#include "CalendarProxyClient.h"
#include "SyncLog.h"

#include <QLocale>
#include <QPointer>

EmailContext::EmailContext(AccountRegistry &accounts, CalendarProxyClient &proxy, QObject *parent)
    : QObject(parent)
    , m_accounts(accounts)
    , m_proxy(proxy) {}

EmailThread EmailContext::emailThread(const ProxyMessage &message) {
    EmailThread thread;
    thread.id = message.threadId.value_or(message.id);
    thread.subject = message.subject.value_or(QStringLiteral("(No subject)"));
    if (message.from && !message.from->isEmpty())
        thread.from = message.from->first().email;
    if (message.date)
        thread.date = QLocale().toString(QDateTime::fromSecsSinceEpoch(*message.date).toLocalTime(),
                                         QLocale::ShortFormat);
    thread.snippet = message.snippet.value_or(QString());
    thread.messageCount = 1;
    return thread;
}

QCoro::Task<QHash<QString, QList<EmailThread>>> EmailContext::fetch(QStringList emails) {
    QPointer<EmailContext> self(this);
    const QList<ConnectedAccount> accounts = m_accounts.accounts();
    QHash<QString, QList<EmailThread>> result;
    for (const ConnectedAccount &account : accounts) {
        if (account.grantId.isEmpty())
            continue;
        for (const QString &email : std::as_const(emails)) {
            if (!self)
                co_return result;
            QList<ProxyMessage> messages;
            try {
                messages = co_await m_proxy.searchMessages(account.grantId, email, limit);
            } catch (const std::exception &error) {
                qCWarning(lcSync) << "Searching the e-mail of account" << account.id
                                  << "failed:" << error.what();
                continue;
            }
            if (messages.isEmpty())
                continue;
            QList<EmailThread> &threads = result[email];
            for (const ProxyMessage &message : std::as_const(messages))
                threads.append(emailThread(message));
        }
    }
    co_return result;
}
