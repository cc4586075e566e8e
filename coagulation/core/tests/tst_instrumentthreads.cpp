// The instrument's worker threads beside the GUI thread, all through the
// process-wide settings store: each saves clot curves and asks for the next
// sample number of the day while the others do the same.
#include "analysisresult.h"
#include "krglobal.h"
#include "messageboxanswerer.h"
#include "profile.h"
#include "testinstallation.h"

#include <QtSql/QSqlDatabase>
#include <QtTest/QtTest>

#include <atomic>
#include <thread>
#include <vector>

class tst_InstrumentThreads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void workersBesideGuiThread();
    void workerConnectionsGoWithTheirThread();

private:
    TestInstallation m_installation;
};

void tst_InstrumentThreads::initTestCase()
{
    QVERIFY(m_installation.create());
    m_installation.enter();
    MessageBoxAnswerer answerer;
    QVERIFY(Profile::instance().dataDatabase().isOpen());
    QVERIFY(answerer.seen.isEmpty());
}

void tst_InstrumentThreads::workersBesideGuiThread()
{
    const QDate today(2026, 12, 7);
    QVERIFY(
        m_installation.execSql(QStringLiteral("data.db"),
                               QStringLiteral("insert into patient (sampleNo, date) values(?, ?)"),
                               {QStringLiteral("41"), today.toString(Qt::ISODate)}));
    ClotCurve curve;
    curve.append(0.0, 0.1, QVector<double>(240, 1200.0));

    constexpr int workers = 4;
    constexpr int curvesEach = 25;
    WarningCapture warnings;
    std::atomic<int> wrongNumbers{0};
    // Each thread saves under patient ids of its own (the GUI thread is number
    // `workers`), so every row can be told apart afterwards.
    const auto work = [&](int thread) {
        for (int i = 0; i < curvesEach; ++i) {
            curve.save(thread * 1000 + i, QStringLiteral("PT"), 1);
            if (nextSampleNo(today) != 42)
                ++wrongNumbers;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < workers; ++t)
        threads.emplace_back(work, t);
    work(workers);
    for (std::thread &thread : threads)
        thread.join();

    QCOMPARE(warnings.lines(), QStringList());
    QCOMPARE(wrongNumbers.load(), 0);
    const auto rows = m_installation.query(
        QStringLiteral("data.db"),
        QStringLiteral("select patientId / 1000, count(*), min(curve = ?), max(curve = ?) "
                       "from curve group by patientId / 1000 order by 1"),
        {curve.toBuffer(), curve.toBuffer()});
    QCOMPARE(rows.size(), workers + 1);
    for (const QVariantList &row : rows)
        QCOMPARE(row, (QVariantList{row.first(), curvesEach, 1, 1}));
}

// A worker's connections are closed and removed when it finishes; the store's
// four stay as they are.
void tst_InstrumentThreads::workerConnectionsGoWithTheirThread()
{
    const QStringList before = QSqlDatabase::connectionNames();
    int duringWork = 0;
    std::thread worker([&] {
        Profile &store = Profile::instance();
        duringWork = int(store.database().isOpen()) + int(store.dataDatabase().isOpen())
            + int(store.qcDatabase().isOpen()) + int(store.syslogDatabase().isOpen());
        duringWork += QSqlDatabase::connectionNames().size() - before.size();
    });
    worker.join();
    QCOMPARE(duringWork, 4 + 4);
    QCOMPARE(QSqlDatabase::connectionNames(), before);
    QVERIFY(Profile::instance().dataDatabase().isOpen());
}

QTEST_MAIN(tst_InstrumentThreads)
#include "tst_instrumentthreads.moc"
