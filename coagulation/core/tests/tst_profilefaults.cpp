#include "analysisresult.h"
#include "messageboxanswerer.h"
#include "profile.h"
#include "testinstallation.h"

#include <QtCore/QFile>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>

#include <atomic>
#include <memory>
#include <thread>

// The store's database fails underneath it while the application runs. Each
// case checks that the change stays in memory, that a warning names the failed
// statement, and that a store made once the fault is gone reaches the table.
class tst_ProfileFaults : public QObject
{
    Q_OBJECT

public:
    enum Fault { Locked, ReadOnly, Deleted, Full, Transaction };
    Q_ENUM(Fault)

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void storeFails_data();
    void storeFails();

private:
    bool inflict(Fault fault);
    bool heal(Fault fault);
    void restart();
    QSqlDatabase curveDatabase();

    std::unique_ptr<StoreFixture> m_site;
    std::unique_ptr<TestInstallation> m_curveSite;
};

static const QString profileConnection = QStringLiteral("profile.db");
static const QString lockerConnection = QStringLiteral("locker");
// The store waits 30 s for a lock; the tests do not.
static const QString shortTimeout = QStringLiteral("QSQLITE_BUSY_TIMEOUT=100");

// Lets the file grow no further: a change that needs a new page (a value
// larger than a page does) finds none free and none to add. Free pages
// would take such a change first, so there must be none.
static bool fill(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("pragma freelist_count")) || !query.next())
        return false;
    if (query.value(0).toInt() > 0 && !query.exec(QStringLiteral("vacuum")))
        return false;
    if (!query.exec(QStringLiteral("pragma page_count")) || !query.next())
        return false;
    const int pages = query.value(0).toInt();
    return query.exec(QStringLiteral("pragma max_page_count = %1").arg(pages)) && query.next()
        && query.value(0).toInt() == pages;
}

static bool makeRoom(const QSqlDatabase &db)
{
    return QSqlQuery(db).exec(QStringLiteral("pragma max_page_count = 1073741823"));
}

// Opens the store's own connection again with other connect options.
static bool reopen(const QString &options)
{
    QSqlDatabase db = QSqlDatabase::database(profileConnection, false);
    db.close();
    db.setConnectOptions(options);
    return db.open();
}

void tst_ProfileFaults::initTestCase()
{
    m_curveSite.reset(new TestInstallation);
    QVERIFY(m_curveSite->create());
}

void tst_ProfileFaults::init()
{
    m_site.reset(new StoreFixture);
    QVERIFY(m_site->installation.create());
    restart();
}

void tst_ProfileFaults::cleanup()
{
    m_site.reset();
    QSqlDatabase::removeDatabase(lockerConnection);
}

bool tst_ProfileFaults::inflict(Fault fault)
{
    switch (fault) {
    case Locked: {
        // A write transaction of another connection holds the file.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), lockerConnection);
        db.setDatabaseName(m_site->installation.filePath(QStringLiteral("profile.db")));
        return db.open() && QSqlQuery(db).exec(QStringLiteral("begin exclusive"));
    }
    case ReadOnly:
        // File permissions do not stop root; the open flag stops everyone.
        return reopen(QStringLiteral("QSQLITE_OPEN_READONLY;") + shortTimeout);
    case Deleted:
        // SQLite notices that the open file has lost its name and refuses
        // to write to it rather than writing to a file nobody will see.
        return QFile::remove(m_site->installation.filePath(QStringLiteral("profile.db")));
    case Full:
        // The disk is full for every file: the data database of the
        // process-wide store, which curves go to, as well.
        return fill(QSqlDatabase::database(profileConnection)) && fill(curveDatabase());
    case Transaction: {
        // The application's own transaction on the store's connection.
        QSqlDatabase db = QSqlDatabase::database(profileConnection);
        QSqlQuery query(db);
        return query.exec(QStringLiteral("create table journal (entry text)")) && db.transaction()
            && query.exec(QStringLiteral("insert into journal values ('first')"));
    }
    }
    return false;
}

bool tst_ProfileFaults::heal(Fault fault)
{
    switch (fault) {
    case Locked: {
        QSqlDatabase db = QSqlDatabase::database(lockerConnection);
        const bool released = QSqlQuery(db).exec(QStringLiteral("rollback"));
        db.close();
        return released;
    }
    case ReadOnly:
        return reopen(shortTimeout);
    case Deleted:
        return m_site->installation.create(QString(),
                                           {QStringLiteral("data.db"), QStringLiteral("qc.db"),
                                            QStringLiteral("syslog.db")})
            && reopen(shortTimeout);
    case Full:
        return makeRoom(QSqlDatabase::database(profileConnection)) && makeRoom(curveDatabase());
    case Transaction: {
        // The store left it alone: it commits with what it holds.
        QSqlDatabase db = QSqlDatabase::database(profileConnection);
        QSqlQuery query(db);
        return db.commit() && query.exec(QStringLiteral("select count(*) from journal"))
            && query.next() && query.value(0).toInt() == 1;
    }
    }
    return false;
}

// The values the store holds in memory, as a table would hold them.
static QMap<QString, QVariant> memory(Profile &store)
{
    QMap<QString, QVariant> values;
    for (const QString &key : store.keys()) {
        const QVariant value = store.value(key);
        if (value.isValid())
            values.insert(key, value);
    }
    return values;
}

// Curves go to the data database of the process-wide store, which stays on
// the site it started on: one of its own for the whole run.
QSqlDatabase tst_ProfileFaults::curveDatabase()
{
    const QString here = QDir::currentPath();
    QDir::setCurrent(m_curveSite->path());
    Profile &store = Profile::instance();
    QDir::setCurrent(here);
    return store.dataDatabase();
}

// The store closes and a new one starts on the same files, as at the next
// start of the application.
void tst_ProfileFaults::restart()
{
    m_site->start();
    QVERIFY(m_site->answerer.seen.isEmpty());
    QVERIFY(reopen(shortTimeout));
}

void tst_ProfileFaults::storeFails_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("error");
    // Whether what failed is written by sync() or by the store closing.
    QTest::addColumn<bool>("atExit");
    // Whether waiting may end the fault: another thread's sync() waits for
    // its time-out, or gives up at the first failed write.
    QTest::addColumn<bool>("passing");

    QTest::newRow("locked") << Locked << QStringLiteral("database is locked") << false << true;
    QTest::newRow("read-only") << ReadOnly << QStringLiteral("attempt to write a readonly database")
                               << false << false;
    QTest::newRow("deleted") << Deleted << QStringLiteral("attempt to write a readonly database")
                             << false << false;
    QTest::newRow("full") << Full << QStringLiteral("database or disk is full") << false << false;
    QTest::newRow("full, written at exit")
        << Full << QStringLiteral("database or disk is full") << true << false;
    QTest::newRow("application transaction open")
        << Transaction << QStringLiteral("cannot start a transaction within a transaction") << false
        << true;
}

void tst_ProfileFaults::storeFails()
{
    QFETCH(Fault, fault);
    QFETCH(QString, error);
    QFETCH(bool, atExit);
    QFETCH(bool, passing);
#ifdef Q_OS_WIN
    if (fault == Deleted)
        QSKIP("Windows deletes no file that SQLite holds open: the store cannot lose its name");
#endif
    const QString stored = QStringLiteral("hospital");
    const QString removed = QStringLiteral("hospital_removed");
    // Larger than a page, so that it needs a new one.
    const QString during = QStringLiteral("during").leftJustified(5000, QLatin1Char('.'));
    m_site->profile->setValue(stored, QStringLiteral("before"));
    m_site->profile->setValue(removed, QStringLiteral("before"));
    QCOMPARE(m_site->row(stored), QVariant(QStringLiteral("before")));
    ClotCurve curve;
    curve.append(0.0, 0.1, QVector<double>(1000, 1.5)); // 8 KB
    if (fault == Full) {
        QVERIFY(curveDatabase().isOpen());
        QVERIFY(curve.store(1, QStringLiteral("PT"), 1));
    }

    QVERIFY(inflict(fault));
    WarningCapture warnings;
    m_site->profile->setValue(stored, during);
    m_site->profile->remove(removed);
    QCOMPARE(m_site->profile->value(stored), QVariant(during));
    QVERIFY(!m_site->profile->keys().contains(removed));
    const QStringList storeFailed = warnings.linesContaining(
        QStringLiteral("insert or replace into profile (name, value) values(?,?)"));
    const QStringList removeFailed =
        warnings.linesContaining(QStringLiteral("delete from profile where name = ?"));
    QCOMPARE(storeFailed.size(), 1);
    QCOMPARE(removeFailed.size(), 1);
    for (const QString &line : storeFailed + removeFailed) {
        QVERIFY2(line.contains(error), qPrintable(line));
        QVERIFY2(WarningCapture::hasSourcePosition(line), qPrintable(line));
    }
    QVERIFY(m_site->answerer.seen.isEmpty()); // a failed store is no start-up problem
    // Still failing: no write, no second warning for the same keys, neither
    // at sync() nor at the retries of the timer.
    QVERIFY(!m_site->profile->sync());
    {
        // The instrument's thread asks, and the owning thread writes for it.
        const int timeout = passing ? 300 : 5000;
        std::atomic<int> synced{-1};
        QElapsedTimer waited;
        waited.start();
        std::thread worker([this, timeout, &synced] { synced = m_site->profile->sync(timeout); });
        while (synced < 0)
            QTest::qWait(10);
        worker.join();
        QCOMPARE(synced.load(), 0);
        QVERIFY2(passing ? waited.elapsed() >= timeout - 50 : waited.elapsed() < 2000,
                 qPrintable(QString::number(waited.elapsed())));
    }
    QTest::qWait(350);
    QCOMPARE(warnings.lines().size(), 2);
    if (fault == Full) {
        // Nothing stored before is lost.
        QCOMPARE(m_site->row(stored), QVariant(QStringLiteral("before")));
        QCOMPARE(m_site->row(removed), QVariant(QStringLiteral("before")));
        warnings.clear();
        QVERIFY(!curve.store(2, QStringLiteral("PT"), 1));
        QCOMPARE(warnings.lines().size(), 1);
        QVERIFY2(warnings.lines().first().contains(QLatin1String("analysisresult(103):"))
                     && warnings.lines().first().contains(error),
                 qPrintable(warnings.lines().first()));
        bool whole = false;
        QCOMPARE(ClotCurve::load(1, QStringLiteral("PT"), 1, &whole), curve);
        QVERIFY(whole);
    }

    // What failed is written once the fault is gone, at the next sync (or
    // change, or retry), or when the store closes.
    QVERIFY(heal(fault));
    if (atExit)
        restart();
    else
        QVERIFY(m_site->profile->sync());
    QCOMPARE(m_site->row(stored), QVariant(during));
    QCOMPARE(m_site->row(removed), QVariant());
    if (fault == Full) {
        QVERIFY(curve.store(2, QStringLiteral("PT"), 1));
        QCOMPARE(ClotCurve::load(2, QStringLiteral("PT"), 1), curve);
    }
    warnings.clear();
    m_site->profile->setValue(stored, QStringLiteral("after"));
    m_site->profile->setValue(removed, QStringLiteral("after"));
    m_site->profile->remove(removed);
    QCOMPARE(warnings.lines(), QStringList());
    QCOMPARE(m_site->profile->value(stored), QVariant(QStringLiteral("after")));
    QCOMPARE(m_site->row(stored), QVariant(QStringLiteral("after")));
    QCOMPARE(m_site->row(removed), QVariant());
    // The table holds what memory holds, also for the next start.
    QCOMPARE(m_site->table(), memory(*m_site->profile));
    restart();
    QCOMPARE(memory(*m_site->profile), m_site->table());
}

QTEST_MAIN(tst_ProfileFaults)
#include "tst_profilefaults.moc"
