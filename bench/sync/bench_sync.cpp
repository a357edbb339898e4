// One calendar refresh of three accounts with 1,000 events each, served by the backend
// stand-in: the whole refresh, and the conversion + filter + sort part on its own.
#include "ManualClock.h"
#include "core/AppSettings.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SignInListener.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {
struct Fixture {
    QProcess backend;
    QString origin;
    QTemporaryDir home;
    std::unique_ptr<AppSettings> settings;
    ManualClock clock{QDateTime::currentDateTimeUtc()};
    SecretStore secrets;
    std::unique_ptr<CalendarProxyClient> proxy;
    CalendarSignInListener auth;
    QList<ConnectedAccount> accounts;
    QList<CalendarService::AccountBatch> batches;

    bool start() {
        backend.start(QStringLiteral(ZELVANE_BACKEND_BINARY),
                      {QStringLiteral("--demo"), QStringLiteral("--admin")});
        if (!backend.waitForStarted(5000) || !backend.waitForReadyRead(10000))
            return false;
        origin = QString::fromUtf8(backend.readLine()).trimmed().section(u' ', -1);
        qputenv("ZELVANE_BACKEND_ORIGIN", origin.toUtf8());
        settings = std::make_unique<AppSettings>(std::make_unique<QSettings>(
            home.path() + QStringLiteral("/Zelvane.conf"), QSettings::IniFormat));
        proxy = std::make_unique<CalendarProxyClient>(secrets, clock);

        QNetworkAccessManager network;
        for (int i = 0; i < 3; ++i) {
            QNetworkRequest request(QUrl(origin + QStringLiteral("/_admin/grants")));
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
            const QJsonObject body{{"email", QStringLiteral("user%1@bench.test").arg(i)},
                                   {"provider", "google"},
                                   {"events", 1000},
                                   {"minutesUntilFirst", 5}};
            QNetworkReply *reply = network.post(request, QJsonDocument(body).toJson());
            while (!reply->isFinished())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            const QJsonObject grant = QJsonDocument::fromJson(reply->readAll()).object();
            delete reply;
            accounts.append(ConnectedAccount::create(
                CalendarProvider::google, grant["email"].toString(), grant["grantId"].toString()));
        }
        QJsonArray stored;
        for (const auto &a : accounts)
            stored.append(a.toJson());
        settings->setValue(AppSettings::Key::ConnectedAccounts, QJsonDocument(stored).toJson());

        for (const auto &a : accounts) {
            CalendarService::AccountBatch batch{a, {}, {}, {}};
            batch.calendars = QCoro::waitFor(proxy->fetchCalendars(a.grantId));
            batch.events = QCoro::waitFor(proxy->fetchEvents(a.grantId, "primary"));
            batches.append(std::move(batch));
        }
        return true;
    }
    ~Fixture() {
        backend.kill();
        backend.waitForFinished();
    }
};

Fixture *fixture = nullptr;

void reportPeakMemory(benchmark::State &state) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = double(usage.ru_maxrss) / 1024.0;
}

void BM_RefreshThreeAccounts(benchmark::State &state) {
    CalendarService service(*fixture->settings, *fixture->proxy, fixture->secrets, fixture->auth,
                            fixture->clock);
    for (auto _ : state) {
        QCoro::waitFor(service.fetchEvents());
        benchmark::DoNotOptimize(service.events().size());
    }
    state.counters["events"] = double(service.events().size());
    reportPeakMemory(state);
}

void BM_ConvertFilterSort(benchmark::State &state) {
    qsizetype proxyEvents = 0;
    for (const auto &b : fixture->batches)
        proxyEvents += b.events.size();
    const QSet<QString> disabled{QStringLiteral("cal-team-none")};
    for (auto _ : state) {
        auto events =
            CalendarService::mergeEvents(fixture->batches, fixture->clock.now(), disabled);
        benchmark::DoNotOptimize(events.data());
    }
    state.counters["proxy_events"] = double(proxyEvents);
    reportPeakMemory(state);
}
} // namespace

BENCHMARK(BM_RefreshThreeAccounts)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_ConvertFilterSort)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    Fixture f;
    if (!f.start()) {
        fprintf(stderr, "the backend stand-in did not start\n");
        return 1;
    }
    fixture = &f;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture = nullptr;
    return 0;
}
