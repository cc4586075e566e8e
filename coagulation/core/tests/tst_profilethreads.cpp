#include "messageboxanswerer.h"
#include "profile.h"
#include "testinstallation.h"

#include <QtCore/QAtomicInt>
#include <QtTest/QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

class tst_ProfileThreads : public QObject
{
    Q_OBJECT

private slots:
    void concurrentUse();
    void lookupRacingWrite();
    void latestPersistedValueWins_data();
    void latestPersistedValueWins();
    void pendingStoresWrittenAtQuit();
    void pendingStoresWrittenAtDestruction();
    void workerFlood();
};

namespace {

// Runs `work` on a thread of its own and waits for it; what it persists is
// queued to this thread.
void onWorker(const std::function<void()> &work)
{
    std::thread worker(work);
    worker.join();
}

QVariant storedRow(TestInstallation &inst, const QString &key)
{
    const auto rows = inst.query(QStringLiteral("profile.db"),
                                 QStringLiteral("select value from profile where name = ?"), {key});
    return rows.isEmpty() ? QVariant() : rows.first().first();
}

} // namespace

// Several threads read, write, remove and list keys at once while this thread
// runs its event loop and stores the queued writes. Every thread owns a set of
// keys no other thread writes, so for those the last value it set is what
// memory and table must hold in the end; one key is written by all of them.
void tst_ProfileThreads::concurrentUse()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    inst.enter();
    MessageBoxAnswerer answerer;
    Profile profile;
    QVERIFY(answerer.seen.isEmpty());

    constexpr int threadCount = 4;
    constexpr int rounds = 400;
    constexpr int keysPerThread = 5;
    const QString shared = QStringLiteral("shared");
    const auto ownKey = [](int thread, int k) {
        return QStringLiteral("t%1/k%2").arg(thread).arg(k);
    };

    WarningCapture warnings;
    QAtomicInt failures;
    QAtomicInt running = threadCount;
    const auto setValue = [&](const QString &key, int value, bool persist) {
        profile.setValue(key, value, persist);
    };
    // std::thread rather than QThread: ThreadSanitizer sees what join() orders,
    // but not QThread::wait() inside the uninstrumented Qt.
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < rounds; ++i) {
                const QString key = ownKey(t, i % keysPerThread);
                if (i % 7 == 3) {
                    profile.remove(key);
                    if (profile.value(key, -1) != QVariant(-1))
                        failures.ref();
                } else {
                    setValue(key, i, i % 5 != 0);
                    if (profile.value(key, -1) != QVariant(i))
                        failures.ref();
                }
                // Looking up a key that another thread may be setting right now
                // must not undo that thread's write.
                profile.value(ownKey((t + 1) % threadCount, (i + 1) % keysPerThread));
                setValue(shared, t, i % 2 == 0);
                if (profile.value(shared).toInt() >= threadCount)
                    failures.ref();
                if (!profile.keys().contains(shared))
                    failures.ref();
            }
            running.deref();
        });
    }
    QElapsedTimer clock;
    clock.start();
    while (running.loadAcquire() > 0 && clock.elapsed() < 120000)
        QCoreApplication::processEvents();
    for (std::thread &thread : threads)
        thread.join();
    QCoreApplication::sendPostedEvents();

    QCOMPARE(failures.loadRelaxed(), 0);
    QCOMPARE(warnings.lines(), QStringList()); // every store ran in this thread, and worked

    // Replays each thread's last persisting step per key: memory holds the last
    // value set, the table the last value stored, or no row after a removal.
    for (int t = 0; t < threadCount; ++t) {
        for (int k = 0; k < keysPerThread; ++k) {
            QVariant inMemory, stored;
            for (int i = k; i < rounds; i += keysPerThread) {
                if (i % 7 == 3) {
                    inMemory = stored = QVariant();
                } else {
                    inMemory = i;
                    if (i % 5 != 0)
                        stored = i;
                }
            }
            const QString key = ownKey(t, k);
            QCOMPARE(profile.value(key), inMemory);
            const auto rows =
                inst.query(QStringLiteral("profile.db"),
                           QStringLiteral("select value from profile where name = ?"), {key});
            QCOMPARE(rows.isEmpty() ? QVariant() : rows.first().first(), stored);
        }
    }
}

// One thread sets fresh keys while another looks up the keys just ahead of it:
// a lookup that records a missing key must never replace a value set meanwhile.
void tst_ProfileThreads::lookupRacingWrite()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    inst.enter();
    Profile profile;

    constexpr int count = 200000;
    const auto key = [](int i) {
        return QString::number(i);
    };
    QAtomicInt written = 0;
    std::thread writer([&] {
        for (int i = 0; i < count; ++i) {
            profile.setValue(key(i), i, false);
            written.storeRelease(i + 1);
        }
    });
    std::thread reader([&] {
        while (written.loadAcquire() < count) {
            const int next = written.loadAcquire();
            for (int ahead = 0; ahead < 3; ++ahead)
                profile.value(key(next + ahead));
        }
    });
    writer.join();
    reader.join();

    int lost = 0;
    for (int i = 0; i < count; ++i)
        lost += profile.value(key(i)) != QVariant(i);
    QCOMPARE(lost, 0);
}

using Steps = std::function<void(Profile &)>;
Q_DECLARE_METATYPE(Steps)

// The instrument's thread and the GUI thread change the same setting. The
// worker's store is queued and runs after the GUI thread's direct one; the
// table must still end with the last persisted value, also after a restart.
void tst_ProfileThreads::latestPersistedValueWins_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QVariant>("inMemory");
    QTest::addColumn<QVariant>("stored");

    const QString key = QStringLiteral("hospital");
    const auto fromWorker = [key](const QString &value) {
        return [key, value](Profile &profile) {
            onWorker([&] { profile.set_hospital(value); });
        };
    };
    QTest::newRow("worker, then here")
        << Steps([=](Profile &p) { fromWorker("old")(p), p.set_hospital("new"); })
        << QVariant("new") << QVariant("new");
    QTest::newRow("worker, then removed here")
        << Steps([=](Profile &p) { fromWorker("old")(p), p.remove(key); }) << QVariant()
        << QVariant();
    QTest::newRow("here, then worker")
        << Steps([=](Profile &p) { p.set_hospital("old"), fromWorker("new")(p); })
        << QVariant("new") << QVariant("new");
    QTest::newRow("worker, then unpersisted here")
        << Steps([=](Profile &p) { fromWorker("old")(p), p.set_hospital("new", false); })
        << QVariant("new") << QVariant("old");
}

void tst_ProfileThreads::latestPersistedValueWins()
{
    QFETCH(Steps, steps);
    QFETCH(QVariant, inMemory);
    QFETCH(QVariant, stored);

    TestInstallation inst;
    QVERIFY(inst.create());
    inst.enter();
    const QString key = QStringLiteral("hospital");
    {
        Profile profile;
        steps(profile);
        QCoreApplication::processEvents(); // the worker's queued store runs now
        QCOMPARE(profile.value(key), inMemory);
        QCOMPARE(storedRow(inst, key), stored);
    }
    Profile restarted;
    QCOMPARE(restarted.value(key), stored);
}

// A store queued while the application quits is written before exec() returns.
void tst_ProfileThreads::pendingStoresWrittenAtQuit()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    inst.enter();
    Profile *store = nullptr;
    // Connected before the store exists, so it runs before the store's own
    // handler: the worker's change is queued while the application quits.
    const QMetaObject::Connection lastWord =
        connect(qApp, &QCoreApplication::aboutToQuit, [&store] {
            onWorker([&store] { store->set_hospital(QStringLiteral("at quit")); });
        });
    Profile profile;
    store = &profile;
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    disconnect(lastWord);
    QCOMPARE(storedRow(inst, QStringLiteral("hospital")), QVariant("at quit"));
}

// A store still queued when the store is destroyed is written by its destructor.
void tst_ProfileThreads::pendingStoresWrittenAtDestruction()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    inst.enter();
    {
        Profile profile;
        onWorker([&] {
            profile.set_hospital(QStringLiteral("queued"));
            profile.setValue(QStringLiteral("gone"), 1);
            profile.remove(QStringLiteral("gone"));
        });
    }
    QCOMPARE(storedRow(inst, QStringLiteral("hospital")), QVariant("queued"));
    QCOMPARE(storedRow(inst, QStringLiteral("gone")), QVariant());
}

// The instrument's thread changes a counter every millisecond, and other
// settings besides, while this thread runs a 1 ms timer: its changes are
// written a batch per turn of the event loop, so the timer keeps firing; sync()
// on the worker returns once they are on disk; the table ends equal to memory,
// also after a restart.
void tst_ProfileThreads::workerFlood()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    inst.enter();
    constexpr int changes = 500;
    QHash<QString, QVariant> inMemory;
    {
        Profile profile;
        std::atomic<bool> flooding{true};
        std::atomic<bool> synced{false};
        int fired = 0;
        QTimer tick;
        tick.setInterval(1);
        connect(&tick, &QTimer::timeout, [&] { fired += flooding ? 1 : 0; });
        tick.start();
        std::thread instrument([&] {
            for (int i = 1; i <= changes; ++i) {
                profile.setValue(QStringLiteral("counter"), i);
                profile.setValue(QStringLiteral("state %1").arg(i % 7), i);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            flooding = false;
            synced = profile.sync();
        });
        QElapsedTimer clock;
        clock.start();
        while ((flooding || !synced) && clock.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        instrument.join();
        QVERIFY(synced);
        // Each batch costs a sync to disk, tens of ms on a loaded machine;
        // a store per change starved the timer for as long as the flood lasted.
        QVERIFY2(fired >= 10, qPrintable(QString::number(fired)));
        for (const QString &key : profile.keys())
            inMemory.insert(key, profile.value(key));
    }
    QCOMPARE(inMemory.value(QStringLiteral("counter")), QVariant(changes));
    const auto rows =
        inst.query(QStringLiteral("profile.db"), QStringLiteral("select name from profile"));
    QCOMPARE(rows.size(), inMemory.size());
    Profile restarted;
    for (auto it = inMemory.cbegin(); it != inMemory.cend(); ++it)
        QCOMPARE(restarted.value(it.key()).toInt(), it.value().toInt());
}

QTEST_MAIN(tst_ProfileThreads)
#include "tst_profilethreads.moc"
