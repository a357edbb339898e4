#include "ManualClock.h"
#include "TestEnvironment.h"
#include "prep/ResearchCache.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTest>
#include <sys/stat.h>

namespace {
const QString id =
    QStringLiteral("3f0a9c2b7e4d18a6c5b0f9e2d1c4a7b8e3f6a9c2b5d8e1f4a7b0c3d6e9f2a5b8");

CachedResearch sample(const QDateTime &at) {
    BriefingResponse::Profile profile;
    profile.email = QStringLiteral("Ana@Acme.io");
    profile.role = QStringLiteral("CTO");
    profile.company = QStringLiteral("Acme");
    profile.linkedInURL = QUrl(QStringLiteral("https://www.linkedin.com/in/ana"));
    return CachedResearch(id, profile.email, QStringLiteral("Ana Lima"), profile,
                          QStringLiteral("evt-1"), at);
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
} // namespace

class TestResearchCache : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<ResearchCache> cache;

private Q_SLOTS:
    void init() {
        env = std::make_unique<TestEnvironment>();
        clock = std::make_unique<ManualClock>();
        cache = std::make_unique<ResearchCache>(ResearchCache::defaultDirectory(), *clock);
    }

    void cleanup() {
        cache.reset();
        env.reset();
    }

    void livesUnderTheDataHome() {
        QCOMPARE(cache->cacheDir(), env->dataHome() + QStringLiteral("/Zelvane/ResearchCache"));
        QVERIFY(QDir(cache->cacheDir()).exists());
    }

    void fileFormat() {
        // 2001-01-02T00:00:01.5Z is 86,401.5 s after the reference date.
        const QDateTime at = QDateTime(QDate(2001, 1, 2), QTime(0, 0, 1, 500), Qt::UTC);
        cache->store(id, sample(at));
        QFile file(cache->filePath(id));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(!bytes.contains('\n'));
        const QJsonObject o = QJsonDocument::fromJson(bytes).object();
        QCOMPARE(o.keys(), (QStringList{"attendeeId", "cachedAt", "company", "email", "eventIds",
                                        "linkedInURL", "name", "role"}));
        QCOMPARE(o["cachedAt"].toDouble(), 86401.5);
        QCOMPARE(o["attendeeId"].toString(), id);
        QCOMPARE(o["email"].toString(), QStringLiteral("Ana@Acme.io"));
        QCOMPARE(o["eventIds"].toArray(), QJsonArray{"evt-1"});
        QCOMPARE(o["linkedInURL"].toString(), QStringLiteral("https://www.linkedin.com/in/ana"));
    }

    void expiry_data() {
        QTest::addColumn<double>("ageSeconds");
        QTest::addColumn<bool>("fresh");
        QTest::newRow("29 days") << 29 * 86400.0 << true;
        QTest::newRow("exactly 30 days") << 30 * 86400.0 << true;
        QTest::newRow("30 days and a second") << 30 * 86400.0 + 1 << false;
        QTest::newRow("in the future") << -7200.0 << true;
    }

    void expiry() {
        QFETCH(double, ageSeconds);
        QFETCH(bool, fresh);
        const CachedResearch stored = sample(clock->now().addMSecs(qint64(-ageSeconds * 1000)));
        cache->store(id, stored);
        const auto found = cache->get(id);
        QCOMPARE(found.has_value(), fresh);
        if (fresh)
            QCOMPARE(*found, stored);
        // An expired file is removed when it is looked up.
        QCOMPARE(QFile::exists(cache->filePath(id)), fresh);
    }

    void decoding_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("decodes");
        const QByteArray base = R"("attendeeId":"x","email":"a@b.c","cachedAt":821690000)";
        QTest::newRow("minimal") << "{" + base + R"(,"eventIds":[]})" << true;
        QTest::newRow("extra key and nulls")
            << "{" + base + R"(,"eventIds":["e"],"name":null,"notes":null,"mood":"great"})" << true;
        QTest::newRow("no eventIds") << "{" + base + "}" << false;
        QTest::newRow("eventIds with a number") << "{" + base + R"(,"eventIds":[1]})" << false;
        QTest::newRow("name a number") << "{" + base + R"(,"eventIds":[],"name":3})" << false;
        QTest::newRow("date as text")
            << QByteArray(R"({"attendeeId":"x","email":"a","cachedAt":"2024-01-01","eventIds":[]})")
            << false;
        QTest::newRow("date beyond any calendar")
            << QByteArray(R"({"attendeeId":"x","email":"a","cachedAt":1e300,"eventIds":[]})")
            << false;
        QTest::newRow("truncated") << "{" + base << false;
    }

    void decoding() {
        QFETCH(QByteArray, content);
        QFETCH(bool, decodes);
        QVERIFY(writeFile(cache->filePath(id), content));
        const auto found = cache->get(id);
        QCOMPARE(found.has_value(), decodes);
        // A file that does not decode stays where it is.
        QVERIFY(QFile::exists(cache->filePath(id)));
        if (found && content.contains("null"))
            QCOMPARE(found->name, std::nullopt);
    }

    void storeReplacesWithoutMerging() {
        CachedResearch first = sample(clock->now());
        first.eventIds = {QStringLiteral("evt-1"), QStringLiteral("evt-0")};
        cache->store(id, first);
        CachedResearch second = sample(clock->now());
        second.role = std::nullopt;
        second.eventIds = {QStringLiteral("evt-2")};
        cache->store(id, second);
        QCOMPARE(*cache->get(id), second);
        QCOMPARE(QDir(cache->cacheDir()).entryList(QDir::Files), QStringList{id + ".json"});
    }

    void filesAreTheUsersAloneAndReadsNeverBlock() {
        const mode_t oldMask = ::umask(0);
        const auto restore = qScopeGuard([oldMask] { ::umask(oldMask); });
        const QString base = env->dataHome() + QStringLiteral("/fresh");
        ResearchCache fresh(base + QStringLiteral("/ResearchCache"), *clock);
        fresh.store(id, sample(clock->now()));
        for (const QString &path : {base, fresh.cacheDir(), fresh.filePath(id)}) {
            struct stat info {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
            QCOMPARE(info.st_mode & 0777, S_ISDIR(info.st_mode) ? 0700u : 0600u);
        }
        QVERIFY(fresh.get(id));

        // Nobody writes to a FIFO put in the folder: opening it must not wait for a writer.
        const QString other = QString(id).replace(u'3', u'4');
        QCOMPARE(::mkfifo(QFile::encodeName(fresh.filePath(other)).constData(), 0600), 0);
        QVERIFY(!fresh.get(other));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), fresh.filePath(id)) ||
                (QFile::remove(fresh.filePath(id)) &&
                 QFile::link(QStringLiteral("/dev/zero"), fresh.filePath(id))));
        QVERIFY(!fresh.get(id));
    }

    void unusableFolderMeansMisses() {
        const QString blocker = env->path() + QStringLiteral("/blocker");
        QVERIFY(writeFile(blocker, "a file, not a folder"));
        ResearchCache broken(blocker + QStringLiteral("/ResearchCache"), *clock);
        broken.store(id, sample(clock->now()));
        QCOMPARE(broken.get(id), std::nullopt);
        // Ids that would leave the folder are never read or written.
        cache->store(QStringLiteral("../escape"), sample(clock->now()));
        QVERIFY(!QFile::exists(env->dataHome() + QStringLiteral("/Zelvane/escape.json")));
    }
};

QTEST_GUILESS_MAIN(TestResearchCache)
#include "tst_research_cache.moc"
