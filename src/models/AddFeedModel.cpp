#include "AddFeedModel.h"

#include "ModelsLog.h"
#include "platform/Error.h"
#include "sync/CalendarService.h"

#include <QLoggingCategory>

AddFeedModel::AddFeedModel(CalendarService &calendarService, QObject *parent)
    : QObject(parent)
    , m_calendarService(&calendarService) {}

void AddFeedModel::add(const QString &address, const QString &displayName) {
    if (m_isAdding || !m_calendarService)
        return;
    m_isAdding = true;
    m_error.reset();
    Q_EMIT changed();
    run(address, displayName);
}

void AddFeedModel::clearError() {
    if (!m_error)
        return;
    m_error.reset();
    Q_EMIT changed();
}

QCoro::Task<> AddFeedModel::run(QString address, QString displayName) {
    QPointer<AddFeedModel> self(this);
    std::optional<ConnectedAccount> account;
    std::optional<QString> error;
    // A click is a boundary: whatever the read throws becomes the text shown in red. The
    // descriptions never carry the address.
    try {
        account = co_await m_calendarService->addFeed(address, displayName);
    } catch (const Error &e) {
        error = e.description();
    } catch (...) {
        // Foreign messages might quote the address, so none is shown or logged.
        error = tr("The calendar feed could not be added.");
    }
    if (error)
        qCWarning(lcModels) << "Adding a calendar feed failed:" << *error;
    if (!self)
        co_return;
    m_isAdding = false;
    m_error = error;
    Q_EMIT changed();
    if (account)
        Q_EMIT added(*account);
}
