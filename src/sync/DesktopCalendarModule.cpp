// The module that carries Evolution Data Server's client: the store DesktopCalendars loads
// when a desktop account is first opened.
#include "DesktopCalendarSource.h"
#include "DesktopCalendarStore.h"

namespace {
class EdsCalendarStore final : public DesktopCalendarStore {
public:
    EdsCalendarStore(Clock &clock, Notify notify)
        : m_source(clock) {
        const auto forward = [this, notify](void (DesktopCalendarSource::*signal)(),
                                            Change change) {
            QObject::connect(&m_source, signal, &m_source, [notify, change] { notify(change); });
        };
        forward(&DesktopCalendarSource::lostChanged, Change::lost);
        forward(&DesktopCalendarSource::calendarsChanged, Change::calendars);
        forward(&DesktopCalendarSource::eventsChanged, Change::events);
    }

    void open() override { m_source.open(); }
    void close() override { m_source.close(); }
    void refresh() override { m_source.refresh(); }
    bool isLost() const override { return m_source.isLost(); }
    QList<DesktopCalendar> calendars() const override { return m_source.calendars(); }
    QList<ProxyCalendar> listedCalendars() const override { return m_source.listedCalendars(); }
    QList<CalendarEvent> events(const QString &accountId) const override {
        return m_source.events(accountId);
    }

private:
    DesktopCalendarSource m_source;
};
} // namespace

extern "C" Q_DECL_EXPORT DesktopCalendarStore *
zelvane_desktop_calendar_store(Clock &clock, DesktopCalendarStore::Notify notify) {
    return new EdsCalendarStore(clock, std::move(notify));
}
static_assert(
    std::is_same_v<decltype(zelvane_desktop_calendar_store), DesktopCalendarStore::Entry>);
