#include "messageboxanswerer.h"
#include "profile.h"
#include "testinstallation.h"

#include <QtCore/QFile>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>

#include <memory>

// The store's database fails underneath it while the application runs. Each
// case checks that the change stays in memory, that a warning names the failed
// statement, and that a store made once the fault is gone reaches the table.
class tst_ProfileFaults : public QObject
{
    Q_OBJECT

public:
    enum Fault { Locked, ReadOnly, Deleted };
    Q_ENUM(Fault)

private slots:
    void init();
    void cleanup();

    void storeFails_data();
    void storeFails();

private:
    bool inflict(Fault fault);
    bool heal(Fault fault);
    QVariant row(const QString &key);

    std::unique_ptr<TestInstallation> m_inst;
    std::unique_ptr<MessageBoxAnswerer> m_answerer;
    std::unique_ptr<Profile> m_profile;
};

static const QString profileConnection = QStringLiteral("profile.db");
static const QString lockerConnection = QStringLiteral("locker");
// The store waits 30 s for a lock; the tests do not.
static const QString shortTimeout = QStringLiteral("QSQLITE_BUSY_TIMEOUT=100");

// Opens the store's own connection again with other connect options.
static bool reopen(const QString &options)
{
    QSqlDatabase db = QSqlDatabase::database(profileConnection, false);
    db.close();
    db.setConnectOptions(options);
    return db.open();
}

void tst_ProfileFaults::init()
{
    m_inst.reset(new TestInstallation);
    QVERIFY(m_inst->create());
    m_inst->enter();
    m_answerer.reset(new MessageBoxAnswerer);
    m_profile.reset(new Profile);
    QVERIFY(m_answerer->seen.isEmpty());
    QVERIFY(reopen(shortTimeout));
}

void tst_ProfileFaults::cleanup()
{
    m_profile.reset();
    QSqlDatabase::removeDatabase(lockerConnection);
    for (const QString &name : TestInstallation::databaseFiles())
        QSqlDatabase::removeDatabase(name);
    m_answerer.reset();
    m_inst.reset();
}

bool tst_ProfileFaults::inflict(Fault fault)
{
    switch (fault) {
    case Locked: {
        // A write transaction of another connection holds the file.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), lockerConnection);
        db.setDatabaseName(m_inst->filePath(QStringLiteral("profile.db")));
        return db.open() && QSqlQuery(db).exec(QStringLiteral("begin exclusive"));
    }
    case ReadOnly:
        // File permissions do not stop root; the open flag stops everyone.
        return reopen(QStringLiteral("QSQLITE_OPEN_READONLY;") + shortTimeout);
    case Deleted:
        // SQLite notices that the open file has lost its name and refuses
        // to write to it rather than writing to a file nobody will see.
        return QFile::remove(m_inst->filePath(QStringLiteral("profile.db")));
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
        return m_inst->create(QString(),
                              {QStringLiteral("data.db"), QStringLiteral("qc.db"),
                               QStringLiteral("syslog.db")})
            && reopen(shortTimeout);
    }
    return false;
}

QVariant tst_ProfileFaults::row(const QString &key)
{
    const auto rows =
        m_inst->query(QStringLiteral("profile.db"),
                      QStringLiteral("select value from profile where name = ?"), {key});
    return rows.isEmpty() ? QVariant() : rows.first().value(0);
}

void tst_ProfileFaults::storeFails_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("error");

    QTest::newRow("locked") << Locked << QStringLiteral("database is locked");
    QTest::newRow("read-only") << ReadOnly
                               << QStringLiteral("attempt to write a readonly database");
    QTest::newRow("deleted") << Deleted << QStringLiteral("attempt to write a readonly database");
}

void tst_ProfileFaults::storeFails()
{
    QFETCH(Fault, fault);
    QFETCH(QString, error);
    const QString stored = QStringLiteral("hospital");
    const QString removed = QStringLiteral("hospital_removed");
    m_profile->setValue(stored, QStringLiteral("before"));
    m_profile->setValue(removed, QStringLiteral("before"));
    QCOMPARE(row(stored), QVariant(QStringLiteral("before")));

    QVERIFY(inflict(fault));
    WarningCapture warnings;
    m_profile->setValue(stored, QStringLiteral("during"));
    m_profile->remove(removed);
    QCOMPARE(m_profile->value(stored), QVariant(QStringLiteral("during")));
    QVERIFY(!m_profile->keys().contains(removed));
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
    QVERIFY(m_answerer->seen.isEmpty()); // a failed store is no start-up problem
    // Still failing: no write, no second warning for the same keys.
    QVERIFY(!m_profile->sync());
    QCOMPARE(warnings.lines().size(), 2);

    // What failed is written once the fault is gone, at the next sync (or
    // change, or retry).
    QVERIFY(heal(fault));
    QVERIFY(m_profile->sync());
    QCOMPARE(row(stored), QVariant(QStringLiteral("during")));
    QCOMPARE(row(removed), QVariant());
    warnings.clear();
    m_profile->setValue(stored, QStringLiteral("after"));
    m_profile->setValue(removed, QStringLiteral("after"));
    m_profile->remove(removed);
    QCOMPARE(warnings.lines(), QStringList());
    QCOMPARE(m_profile->value(stored), QVariant(QStringLiteral("after")));
    QCOMPARE(row(stored), QVariant(QStringLiteral("after")));
    QCOMPARE(row(removed), QVariant());
}

QTEST_MAIN(tst_ProfileFaults)
#include "tst_profilefaults.moc"
