// The calendar side at scale, wired as the app wires it (AppServices), with the reminder
// scheduler started so that every change of the events is checked at once. cpu time is the
// main thread's (transfers run on the network thread):
//   - a refresh over the network of five stand-in accounts, 1,000 events each (what the
//     calendar proxy hands out per account: five pages of 200);
//   - five accounts of 3,000 events each merged and handed to the scheduler, as a refresh
//     ends (the accounts' batches are the stand-in's events, repeated later in time, prepared
//     as the refresh's worker hands them over);
//   - the worker's preparation of one such account (off the main thread);
//   - the scheduler's pass over those 15,000 events, the check it makes whenever it wakes.
#include "ManualClock.h"
#include "app/AppServices.h"
#include "core/AppSettings.h"
#include "sync/ProxyRecords.h"

#include <QApplication>
#include <QCoroTask>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <malloc.h>

namespace {
constexpr int accountCount = 5;
constexpr int servedPerAccount = 1000;
constexpr int eventsPerAccount = 3000;

struct Fixture {
    QProcess backend;
    QTemporaryDir home;
    std::unique_ptr<AppSettings> settings;
    ManualClock clock{QDateTime::currentDateTimeUtc()};
    std::unique_ptr<AppServices> services;
    qsizetype served = 0;
    // Heap the first refresh left in use, per event it published: what holding an event costs.
    double heldPerEvent = 0;
    QList<CalendarService::AccountBatch> batches;
    QList<CalendarService::PreparedBatch> prepared;

    bool start() {
        backend.start(QStringLiteral(ZELVANE_BACKEND_BINARY),
                      {QStringLiteral("--demo"), QStringLiteral("--admin")});
        if (!backend.waitForStarted(5000) || !backend.waitForReadyRead(10000))
            return false;
        const QString origin = QString::fromUtf8(backend.readLine()).trimmed().section(u' ', -1);
        qputenv("ZELVANE_BACKEND_ORIGIN", origin.toUtf8());
        qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toUtf8());
        settings = std::make_unique<AppSettings>(std::make_unique<QSettings>(
            home.filePath(QStringLiteral("Zelvane.conf")), QSettings::IniFormat));

        QNetworkAccessManager network;
        QJsonArray stored;
        for (int i = 0; i < accountCount; ++i) {
            QNetworkRequest request(QUrl(origin + QStringLiteral("/_admin/grants")));
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
            const QJsonObject body{{"email", QStringLiteral("user%1@bench.test").arg(i)},
                                   {"provider", "google"},
                                   {"events", servedPerAccount},
                                   {"minutesUntilFirst", 30}};
            QNetworkReply *reply = network.post(request, QJsonDocument(body).toJson());
            while (!reply->isFinished())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            const QJsonObject grant = QJsonDocument::fromJson(reply->readAll()).object();
            delete reply;
            stored.append(ConnectedAccount::create(CalendarProvider::google,
                                                   grant["email"].toString(),
                                                   grant["grantId"].toString())
                              .toJson());
        }
        settings->setValue(AppSettings::Key::ConnectedAccounts, QJsonDocument(stored).toJson());
        services = std::make_unique<AppServices>(*settings, clock);
        services->scheduler.start();
        const auto heapInUse = [] {
            // Large blocks are mapped apart from the heap and counted apart.
            const struct mallinfo2 info = mallinfo2();
            return double(info.uordblks) + double(info.hblkhd);
        };
        const double heapBefore = heapInUse();
        QCoro::waitFor(services->calendar.fetchEvents());
        served = services->calendar.events().size();
        // Lists replaced during the refresh are let go on the workers.
        QThreadPool::globalInstance()->waitForDone();
        heldPerEvent = (heapInUse() - heapBefore) / double(served);
        if (served != accountCount * servedPerAccount)
            return false;
        // Three times each account's events, each copy a 1,000 half-hours later.
        for (const ConnectedAccount &account : services->calendar.accounts()) {
            CalendarService::AccountBatch batch{account, {}, {}, {}};
            const QList<ProxyEvent> served = QCoro::waitFor(
                services->proxy.fetchEvents(account.grantId, QStringLiteral("primary")));
            for (int copy = 0; copy < eventsPerAccount / servedPerAccount; ++copy) {
                for (ProxyEvent event : served) {
                    event.id += QStringLiteral("-%1").arg(copy);
                    const qint64 shift = qint64(copy) * servedPerAccount * 1800;
                    if (event.when && event.when->startTime)
                        *event.when->startTime += shift;
                    if (event.when && event.when->endTime)
                        *event.when->endTime += shift;
                    batch.events.append(std::move(event));
                }
            }
            prepared.append(CalendarService::prepareBatch(batch));
            batches.append(std::move(batch));
        }
        return true;
    }
    ~Fixture() {
        services.reset();
        backend.kill();
        backend.waitForFinished();
    }
};

Fixture *fixture = nullptr;

void BM_RefreshFiveAccountsOverTheNetwork(benchmark::State &state) {
    CalendarService &calendar = fixture->services->calendar;
    for (auto _ : state) {
        QCoro::waitFor(calendar.fetchEvents());
        benchmark::DoNotOptimize(calendar.events().size());
    }
    state.counters["events"] = double(calendar.events().size());
    state.counters["held_bytes_per_event"] = fixture->heldPerEvent;
}

void BM_MergeFiveAccountsIntoTheScheduler(benchmark::State &state) {
    CalendarService &calendar = fixture->services->calendar;
    for (auto _ : state)
        calendar.publishEvents(
            CalendarService::mergePrepared(fixture->prepared, fixture->clock.now(), {}));
    state.counters["events"] = double(calendar.events().size());
}

void BM_PrepareOneAccountOnTheWorker(benchmark::State &state) {
    const CalendarService::AccountBatch &batch = fixture->batches.constFirst();
    for (auto _ : state) {
        const CalendarService::PreparedBatch prepared = CalendarService::prepareBatch(batch);
        benchmark::DoNotOptimize(prepared.events.size());
    }
    state.counters["events"] = double(batch.events.size());
}

void BM_SchedulerPass(benchmark::State &state) {
    CalendarService &calendar = fixture->services->calendar;
    if (calendar.events().size() < accountCount * eventsPerAccount)
        calendar.publishEvents(
            CalendarService::mergePrepared(fixture->prepared, fixture->clock.now(), {}));
    ReminderScheduler &scheduler = fixture->services->scheduler;
    for (auto _ : state)
        scheduler.noteClockChanged();
    state.counters["events"] = double(calendar.events().size());
}
} // namespace

BENCHMARK(BM_RefreshFiveAccountsOverTheNetwork)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_MergeFiveAccountsIntoTheScheduler)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PrepareOneAccountOnTheWorker)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_SchedulerPass)->Unit(benchmark::kMillisecond)->MinTime(1.0);

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    Fixture f;
    if (!f.start()) {
        std::fprintf(stderr, "the backend stand-in served %lld events, not %d\n",
                     static_cast<long long>(f.served), accountCount * servedPerAccount);
        return 1;
    }
    fixture = &f;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture = nullptr;
    return 0;
}
