// The store over the life of a whole process: start-up boxes whose event loop
// asks for the store, a static object that uses it during exit, values that
// must survive a restart, and a tool with only a QCoreApplication. Each case
// runs this executable again in a laid-out installation (PROCESS_LIFE_CHILD
// names the child's part) and judges its exit status and output.
#include "analysisresult.h"
#include "childprocess.h"
#include "krglobal.h"
#include "messageboxanswerer.h"
#include "profile.h"
#include "testinstallation.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QRect>
#include <QtCore/QThreadPool>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

static const char childVariable[] = "PROCESS_LIFE_CHILD";

static void print(const QString &line)
{
    std::puts(line.toUtf8().constData());
    std::fflush(stdout);
}

// Values of every shape an application stores, scalar and not.
static QList<QPair<QString, QVariant>> storedValues()
{
    return {
        {QStringLiteral("text"), QStringLiteral("协和医院")},
        {QStringLiteral("integer"), 42},
        {QStringLiteral("real"), 2.5},
        {QStringLiteral("bytes"), QByteArray("\0\x01raw", 5)},
        {QStringLiteral("string list"), QStringList{QStringLiteral("PT"), QStringLiteral("APTT")}},
        {QStringLiteral("empty list"), QStringList()},
        {QStringLiteral("variant list"),
         QVariantList{1, QStringLiteral("x"), QVariantList{2.5, true}}},
        {QStringLiteral("map"),
         QVariantMap{{QStringLiteral("width"), 120},
                     {QStringLiteral("nested"), QVariantMap{{QStringLiteral("on"), true}}}}},
        {QStringLiteral("size"), QSize(800, 600)},
        {QStringLiteral("rect"), QRect(10, 20, 300, 200)},
        {QStringLiteral("point"), QPoint(-5, 7)},
        {QStringLiteral("real point"), QPointF(0.5, 1e-9)},
    };
}

// ---------------------------------------------------------------------------
// The children

// A start-up box runs an event loop; a queued call in it asks for the store.
static int startupBoxAsksForStore()
{
    MessageBoxAnswerer answerer;
    WarningCapture warnings;
    Profile *fromBox = nullptr;
    QTimer::singleShot(0, [&fromBox] { fromBox = &Profile::instance(); });
    Profile &store = Profile::instance();
    print(QStringLiteral("boxes=%1").arg(answerer.seen.size()));
    print(QStringLiteral("same=%1").arg(fromBox == &store));
    print(QStringLiteral("duplicates=%1")
              .arg(warnings.linesContaining(QStringLiteral("duplicate connection")).size()));
    print(QStringLiteral("open=%1").arg(store.dataDatabase().isOpen()));
    return 0;
}

// What an application's session object does in its destructor at exit.
class Session
{
public:
    ~Session()
    {
        print(QStringLiteral("prefix=") + samplePrefix(kr::StatimSample));
        print(QStringLiteral("cell=") + AnalysisResult(12.5).toString());
        print(QStringLiteral("sample=%1").arg(nextSampleNo(QDate(2026, 12, 7))));
        Profile::instance().setValue(QStringLiteral("session"), QStringLiteral("closed"));
        ClotCurve curve;
        curve.append(0.0, 1.0, {1.0});
        curve.save(1, QStringLiteral("PT"), 1);
        print(QStringLiteral("session saved"));
    }
};

static int storeUsedAtExit()
{
    static Session session; // made before the store, so destroyed after it
    MessageBoxAnswerer answerer;
    Profile::instance().set_statim_sample_prefix(QStringLiteral("EM"));
    // The main thread reads and formats during the run, as every
    // application does, so its per-thread copies exist when exit begins.
    AnalysisResult(12.5).toString();
    QSqlQuery insert(Profile::instance().dataDatabase());
    return insert.exec(
               QStringLiteral("insert into patient (sampleNo, date) values('41', '2026-12-07')"))
        ? 0
        : 1;
}

// The instrument thread persists its last state after the event loop has
// ended; the application object goes before the store does.
static int storeAfterEventLoop()
{
    MessageBoxAnswerer answerer;
    Profile &store = Profile::instance();
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    std::thread instrument([&store] { store.set_hospital(QStringLiteral("after the loop")); });
    instrument.join();
    return 0;
}

// The instrument thread starts the store (it numbers a sample before the user
// interface has asked for a setting) and ends; the application changes its
// current directory (a file dialog), sets a setting, and another worker saves
// a curve.
static int workerStartsStore()
{
    auto saveCurve = [] {
        ClotCurve curve;
        curve.append(0.0, 0.1, {1000.0, 1001.0});
        print(QStringLiteral("stored=%1")
                  .arg(curve.store(nextSampleNo(QDate(2026, 12, 7)), QStringLiteral("PT"), 1)));
    };
    std::thread(saveCurve).join();
    QDir::setCurrent(QStringLiteral("elsewhere"));
    Profile::instance().set_hospital(QStringLiteral("County Hospital"));
    std::thread(saveCurve).join();
    // A backup routine reopens the data database from the new directory.
    QSqlDatabase data = Profile::instance().dataDatabase();
    data.close();
    data.open();
    saveCurve();
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    return QCoreApplication::exec();
}

// The same on an installation without a profile database: start-up ends at
// once, and the store still goes to the application's thread.
static int workerStartsBrokenStore()
{
    std::thread([] { Profile::instance(); }).join();
    print(QStringLiteral("owned by the application's thread=%1")
              .arg(Profile::instance().thread() == qApp->thread()));
    return 0;
}

// Instrument threads that all ask for the store first, at the same moment.
static int racingFirstCalls()
{
    WarningCapture warnings;
    constexpr int threads = 4;
    std::atomic<int> ready{0};
    Profile *stores[threads] = {};
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&, i] {
            for (++ready; ready < threads;)
                std::this_thread::yield();
            stores[i] = &Profile::instance();
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    print(QStringLiteral("stores=%1 duplicates=%2")
              .arg(QSet<Profile *>(std::begin(stores), std::end(stores)).size())
              .arg(warnings.linesContaining(QStringLiteral("duplicate connection")).size()));
    return 0;
}

// A store of the application's own beside the process-wide one.
static int twoStores()
{
    Profile &shared = Profile::instance();
    {
        Profile own(QStringLiteral("other.db"));
        own.setValue(QStringLiteral("own"), 1);
        shared.setValue(QStringLiteral("shared"), 2);
        print(QStringLiteral("own=%1").arg(QFileInfo(own.database().databaseName()).fileName()));
    }
    shared.setValue(QStringLiteral("shared later"), 3);
    print(QStringLiteral("shared=%1 %2")
              .arg(shared.database().connectionName(),
                   QFileInfo(shared.database().databaseName()).fileName()));
    // Stores made and destroyed again and again keep no connection open.
    const int before = QSqlDatabase::connectionNames().size();
    for (int i = 0; i < 50; ++i)
        Profile(QStringLiteral("other.db")).setValue(QStringLiteral("own"), i);
    print(QStringLiteral("connections added=%1")
              .arg(QSqlDatabase::connectionNames().size() - before));
    return 0;
}

static int writeValues()
{
    MessageBoxAnswerer answerer;
    for (const auto &entry : storedValues())
        Profile::instance().setValue(entry.first, entry.second);
    return 0;
}

static int readValues()
{
    MessageBoxAnswerer answerer;
    int mismatches = 0;
    for (const auto &entry : storedValues()) {
        const QVariant read = Profile::instance().value(entry.first);
        // A stored integer comes back as the driver reads it, a 64-bit one.
        const bool sameType = read.userType() == entry.second.userType()
            || (read.userType() == QMetaType::LongLong
                && entry.second.userType() == QMetaType::Int);
        if (!sameType || read != entry.second) {
            print(QStringLiteral("%1: %2 %3")
                      .arg(entry.first, QLatin1String(read.typeName()), read.toString()));
            ++mismatches;
        }
    }
    return mismatches;
}

// A job that quitting starts on the global pool changes a setting and, as
// before reporting a run as started, asks for it to be on disk.
static void syncFromPoolWhenQuitting(QCoreApplication &app, std::atomic<bool> &synced,
                                     std::atomic<qint64> &waited)
{
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&synced, &waited] {
        QThreadPool::globalInstance()->start([&synced, &waited] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            Profile::instance().setValue(QStringLiteral("pool"), QStringLiteral("done"));
            QElapsedTimer clock;
            clock.start();
            synced = Profile::instance().sync();
            waited = clock.elapsed();
        });
    });
}

// The instrument thread goes on changing settings while the application
// quits, and a job that quitting starts on the global pool changes one too.
static int changesWhileQuitting(int argc, char **argv)
{
    std::atomic<bool> stop{false};
    std::atomic<int> last{0};
    std::atomic<bool> poolSynced{false};
    std::atomic<qint64> poolWaited{0};
    std::thread instrument;
    {
        QApplication app(argc, argv);
        Profile &store = Profile::instance();
        instrument = std::thread([&store, &stop, &last] {
            for (int i = 1; !stop; ++i) {
                store.setValue(QStringLiteral("k%1").arg(i), i);
                store.setValue(QStringLiteral("counter"), i);
                last = i;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        syncFromPoolWhenQuitting(app, poolSynced, poolWaited);
        QTimer::singleShot(100, &app, &QCoreApplication::quit);
        QCoreApplication::exec();
        // A thread stopped and joined once the event loop has ended, in
        // sync() meanwhile: nothing can write for it until the store closes.
        QElapsedTimer joined;
        joined.start();
        std::thread([&store] { store.sync(); }).join();
        print(QStringLiteral("joined long=%1").arg(joined.elapsed() > 2000));
    } // destroyed while the instrument writes
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
    instrument.join();
    print(QStringLiteral("last=%1").arg(last));
    print(QStringLiteral("pool synced=%1 waited long=%2").arg(poolSynced).arg(poolWaited > 2000));
    return 0;
}

// The application's own transaction on the store's connection, never
// ended: a job that quitting starts learns at once that its change is not
// stored, rather than after sync()'s time-out.
static int transactionAtQuit(int argc, char **argv)
{
    std::atomic<bool> synced{true};
    std::atomic<qint64> waited{0};
    {
        QApplication app(argc, argv);
        Profile &store = Profile::instance();
        store.database().transaction();
        syncFromPoolWhenQuitting(app, synced, waited);
        QTimer::singleShot(100, &app, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
    print(QStringLiteral("pool synced=%1 waited long=%2").arg(synced).arg(waited > 2000));
    return 0;
}

// A store started before the application object, used after it is gone.
static int storeBeforeApplication(int argc, char **argv)
{
    Profile &store = Profile::instance();
    {
        QApplication app(argc, argv);
        store.setValue(QStringLiteral("during"), 1);
    }
    store.setValue(QStringLiteral("after"), 2);
    return 0;
}

// Another program reads profile.db (a report left open) while the user
// interface changes a setting: the window does not wait for it, and the
// change reaches the table once the read ends.
static int storeWhileReadHeld()
{
    MessageBoxAnswerer answerer;
    Profile &store = Profile::instance();
    QElapsedTimer waited;
    waited.start();
    store.set_hospital(QStringLiteral("新医院"));
    print(QStringLiteral("waited long=%1").arg(waited.elapsed() > 1000));
    print(QStringLiteral("memory=") + store.hospital(QString()));
    QTimer::singleShot(6000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    // Read through a connection of its own, before the exit writes anything.
    {
        QSqlDatabase reader = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "reader");
        reader.setDatabaseName(QStringLiteral("profile.db"));
        QSqlQuery row(reader);
        reader.open();
        row.exec(QStringLiteral("select value from profile where name = 'hospital'"));
        print(QStringLiteral("table=") + (row.next() ? row.value(0).toString() : QString()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    return 0;
}

// The report designer beside the application: its own store over the same
// profile.db changes three settings and removes one.
static int changeFromOutside()
{
    MessageBoxAnswerer answerer;
    Profile &store = Profile::instance();
    store.set_upper_mark_limit_flag(QStringLiteral("H"));
    store.set_color_of_upper_mark(QColor(0, 0, 255));
    store.set_max_qc_file(12);
    store.set_hospital(QStringLiteral("outside"));
    store.remove(QStringLiteral("analysis_display_assay"));
    return store.sync() ? 0 : 1;
}

// The application while the designer changes settings: its own change of
// one of them waits behind a report's read meanwhile, and a worker formats
// results all along.
static int followOtherProcess()
{
    MessageBoxAnswerer answerer;
    Profile &store = Profile::instance();
    store.set_is_touch_screen(true, false); // in memory only
    AnalysisResult high(12.5);
    high.setFlags(kr::UpperMarkLimitFlag);
    print(QStringLiteral("cell before=") + high.toString());
    QStringList seen;
    QObject::connect(&store, &Profile::valueChanged,
                     [&seen](const QString &key, const QVariant &value) {
                         seen << key + QLatin1Char('=') + value.toString();
                     });
    QObject::connect(&store, &Profile::keyRemoved,
                     [&seen](const QString &key) { seen << QStringLiteral("removed ") + key; });
    std::atomic<bool> stop{false};
    std::thread worker([&stop, high] {
        while (!stop) {
            high.toString();
            Profile::instance().upper_mark_limit_flag(QString());
        }
    });
    QCoreApplication::processEvents(); // the checks begin

    runChild(QCoreApplication::applicationFilePath(), QStringList(), QString(),
             {{QLatin1String(childVariable), QStringLiteral("change from outside")}});
    QElapsedTimer clock;
    clock.start();
    LockHolder report(QStringLiteral("profile.db"), LockHolder::Read);
    store.set_hospital(QStringLiteral("local"));
    seen.clear(); // its own announcement
    while (seen.size() < 4 && clock.elapsed() < 10000)
        QTest::qWait(10);
    print(QStringLiteral("within two seconds=%1").arg(clock.elapsed() < 2000));
    std::fprintf(stderr, "noticed after %lld ms\n", clock.elapsed());
    stop = true;
    worker.join();
    seen.sort();
    for (const QString &line : qAsConst(seen))
        print(line);
    print(QStringLiteral("getters=%1 %2 %3 %4 %5 %6")
              .arg(store.upper_mark_limit_flag(QString()),
                   store.color_of_upper_mark(Qt::black).name())
              .arg(store.max_qc_file(0))
              .arg(store.analysis_display_assay(QStringLiteral("none")))
              .arg(store.is_touch_screen(false))
              .arg(store.hospital(QString())));
    print(QStringLiteral("cell after=") + high.toString());
    report.release();
    print(QStringLiteral("synced=%1").arg(store.sync()));
    return 0;
}

static int readHospital()
{
    MessageBoxAnswerer answerer;
    print(QStringLiteral("hospital=") + Profile::instance().hospital(QString()));
    return 0;
}

// Only a QCoreApplication: a service or an import tool.
static int headless(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Profile &store = Profile::instance(); // qc.db is missing: a start-up warning
    const QVariant failed = load_script(QStringLiteral("broken.js"));
    print(QStringLiteral("open=%1 script=%2")
              .arg(store.dataDatabase().isOpen())
              .arg(failed.isValid()));
    return 0;
}

// A tool that runs a script before it creates its application object.
static int scriptWithoutApplication()
{
    WarningCapture warnings;
    const QVariant value = eval(QStringLiteral("6*7"));
    const QVariant loaded = load_script(QStringLiteral("answer.js"));
    print(QStringLiteral("eval=%1 load=%2 warnings=%3")
              .arg(value.isValid())
              .arg(loaded.isValid())
              .arg(warnings.linesContaining(QStringLiteral("application object")).size()));
    return 0;
}

// ---------------------------------------------------------------------------
// The cases

class tst_ProcessLife : public QObject
{
    Q_OBJECT

private slots:
    void startupBoxAsksForStore();
    void storeUsedAtExit();
    void valuesSurviveRestart();
    void storeAfterEventLoop();
    void headlessTool();
    void scriptBeforeApplication();
    void workerStartsStore();
    void secondStore();
    void racingFirstCalls();
    void workerStartsBrokenStore();
    void changesWhileQuitting();
    void transactionAtQuit();
    void storeBeforeApplication();
    void storeWhileReadHeld();
    void followsOtherProcess();

private:
    struct Outcome
    {
        int exitCode = -1;
        QStringList output;
        QString errors;
    };
    static Outcome run(const TestInstallation &inst, const char *child);
};

tst_ProcessLife::Outcome tst_ProcessLife::run(const TestInstallation &inst, const char *child)
{
    const ChildOutcome ended =
        runChild(QCoreApplication::applicationFilePath(), QStringList(), inst.path(),
                 {{QLatin1String(childVariable), QString::fromUtf8(child)}});
    Outcome outcome;
    outcome.exitCode = ended.exitCode;
    outcome.output = QString::fromUtf8(ended.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    outcome.errors = QString::fromUtf8(ended.errors);
    return outcome;
}

void tst_ProcessLife::startupBoxAsksForStore()
{
    TestInstallation inst;
    QVERIFY(inst.create(QString(), {QStringLiteral("qc.db")}));
    const Outcome outcome = run(inst, "startup");
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.output, (QStringList{"boxes=1", "same=1", "duplicates=0", "open=1"}));
}

// A static object made before the store touches it during exit: no access
// to a freed store, the values in memory, and a warning for what cannot be
// stored any more.
void tst_ProcessLife::storeUsedAtExit()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    const Outcome outcome = run(inst, "exit");
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.errors));
    QCOMPARE(outcome.output, (QStringList{"prefix=EM", "cell=12.5", "sample=1", "session saved"}));
#ifdef Q_OS_WIN
    // A DLL's static objects go when it is unloaded, after the application's
    // own: the store is still there, closed with the application object.
    const auto refusals = {"nextSampleNo: the settings store has no data database",
                           "\"session\" is not stored: the application object has been destroyed",
                           "ClotCurve::save: the settings store has no data database"};
#else
    const auto refusals = {"nextSampleNo: no data database", "\"session\" is not stored",
                           "ClotCurve::save: no data database"};
#endif
    for (const char *refused : refusals)
        QVERIFY2(outcome.errors.contains(QLatin1String(refused)), refused);
    QCOMPARE(
        inst.query(QStringLiteral("profile.db"),
                   QStringLiteral("select value from profile where name = 'statim_sample_prefix'")),
        (QList<QVariantList>{{QStringLiteral("EM")}}));
}

// Every value written in one process reads back equal, with its type, in the
// next; the scalar ones keep the rows every reader of the file knows.
void tst_ProcessLife::valuesSurviveRestart()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    QCOMPARE(run(inst, "write").exitCode, 0);
    const Outcome read = run(inst, "read");
    QVERIFY2(read.exitCode == 0, qPrintable(read.output.join(QLatin1Char('\n'))));
    QCOMPARE(inst.query(QStringLiteral("profile.db"),
                        QStringLiteral("select name, typeof(value) from profile where name in "
                                       "('text', 'integer', 'real', 'bytes') order by name")),
             (QList<QVariantList>{
                 {"bytes", "blob"}, {"integer", "integer"}, {"real", "real"}, {"text", "text"}}));
}

void tst_ProcessLife::storeAfterEventLoop()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    const Outcome outcome = run(inst, "afterloop");
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.errors));
    QCOMPARE(inst.query(QStringLiteral("profile.db"),
                        QStringLiteral("select value from profile where name = 'hospital'")),
             (QList<QVariantList>{{QStringLiteral("after the loop")}}));
}

void tst_ProcessLife::headlessTool()
{
    TestInstallation inst;
    QVERIFY(inst.create(QString(), {QStringLiteral("qc.db")}));
    QVERIFY(inst.writeFile(QStringLiteral("broken.js"), "var x = ;"));
    const Outcome outcome = run(inst, "headless");
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.output, QStringList{"open=1 script=0"});
    QVERIFY2(outcome.errors.contains(QStringLiteral("错误的数据库文件 ./qc.db")),
             qPrintable(outcome.errors));
    QVERIFY2(outcome.errors.contains(QStringLiteral("SyntaxError")), qPrintable(outcome.errors));
}

void tst_ProcessLife::scriptBeforeApplication()
{
    TestInstallation inst;
    QVERIFY(inst.writeFile(QStringLiteral("answer.js"), "6*7"));
    const Outcome outcome = run(inst, "no application");
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.output, QStringList{"eval=0 load=0 warnings=2"});
}

void tst_ProcessLife::workerStartsStore()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    QVERIFY(QDir().mkpath(inst.filePath(QStringLiteral("elsewhere"))));
    const Outcome outcome = run(inst, "workerfirst");
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.errors));
    QCOMPARE(outcome.output, (QStringList{"stored=1", "stored=1", "stored=1"}));
    QCOMPARE(inst.query(QStringLiteral("profile.db"),
                        QStringLiteral("select value from profile where name = 'hospital'")),
             (QList<QVariantList>{{QStringLiteral("County Hospital")}}));
    QCOMPARE(inst.query(QStringLiteral("data.db"), QStringLiteral("select count(*) from curve")),
             (QList<QVariantList>{{3}}));
    QVERIFY(!QFileInfo::exists(inst.filePath(QStringLiteral("elsewhere/data.db"))));
    QVERIFY2(!outcome.errors.contains(QLatin1String("thread")), qPrintable(outcome.errors));
}

void tst_ProcessLife::secondStore()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    QVERIFY(inst.createDatabase(QStringLiteral("other.db"), QStringLiteral("profile")));
    const Outcome outcome = run(inst, "twostores");
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.errors));
    QCOMPARE(outcome.output,
             (QStringList{"own=other.db", "shared=profile.db profile.db", "connections added=0"}));
    const QString keys = QStringLiteral("select name from profile order by name");
    QCOMPARE(inst.query(QStringLiteral("profile.db"), keys),
             (QList<QVariantList>{{QStringLiteral("shared")}, {QStringLiteral("shared later")}}));
    QCOMPARE(
        inst.query(QStringLiteral("other.db"), QStringLiteral("select name, value from profile")),
        (QList<QVariantList>{{QStringLiteral("own"), 49}}));
}

void tst_ProcessLife::racingFirstCalls()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    for (int attempt = 0; attempt < 5; ++attempt) {
        const Outcome outcome = run(inst, "racing");
        QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.errors));
        QCOMPARE(outcome.output, QStringList{"stores=1 duplicates=0"});
    }
}

void tst_ProcessLife::workerStartsBrokenStore()
{
    TestInstallation inst;
    QVERIFY(inst.create(QString(), {QStringLiteral("profile.db")}));
    const Outcome outcome = run(inst, "workerfirst broken");
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.errors));
    QCOMPARE(outcome.output, QStringList{"owned by the application's thread=1"});
    QVERIFY2(outcome.errors.contains(QStringLiteral("找不到配置文件 profile.db")),
             qPrintable(outcome.errors));
}

// Every change the instrument made is in the table or was reported as not
// stored; so is the pool's.
void tst_ProcessLife::changesWhileQuitting()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    const Outcome outcome = run(inst, "quitting");
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.errors));
    QCOMPARE(outcome.output.size(), 3);
    QCOMPARE(outcome.output.at(0), QStringLiteral("joined long=0"));
    const int last = outcome.output.at(1).mid(5).toInt();
    QCOMPARE(outcome.output.at(2), QStringLiteral("pool synced=1 waited long=0"));
    QVERIFY(last > 0);
    QHash<QString, QVariant> table;
    for (const QVariantList &row : inst.query(QStringLiteral("profile.db"),
                                              QStringLiteral("select name, value from profile")))
        table.insert(row.at(0).toString(), row.at(1));
    for (int i = 1; i <= last; ++i) {
        const QString key = QStringLiteral("k%1").arg(i);
        const bool reported =
            outcome.errors.contains(QStringLiteral("\"%1\" is not stored").arg(key));
        QVERIFY2(table.value(key) == QVariant(i) || reported, qPrintable(key));
    }
    // The counter's changes after the store closed are each reported.
    const int unstored = outcome.errors.count(QStringLiteral("\"counter\" is not stored"));
    QCOMPARE(table.value(QStringLiteral("counter")).toInt(), last - unstored);
    QCOMPARE(table.value(QStringLiteral("pool")), QVariant(QStringLiteral("done")));
}

void tst_ProcessLife::transactionAtQuit()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    const Outcome outcome = run(inst, "transaction at quit");
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.errors));
    QCOMPARE(outcome.output, QStringList{"pool synced=0 waited long=0"});
    QVERIFY2(outcome.errors.contains(QLatin1String("\"pool\" is not stored")),
             qPrintable(outcome.errors));
}

void tst_ProcessLife::storeBeforeApplication()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    const Outcome outcome = run(inst, "before application");
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.errors));
    QVERIFY2(outcome.errors.contains(QLatin1String("\"after\" is not stored")),
             qPrintable(outcome.errors));
    QVERIFY2(!outcome.errors.contains(QLatin1String("Driver not loaded")),
             qPrintable(outcome.errors));
    QCOMPARE(
        inst.query(QStringLiteral("profile.db"), QStringLiteral("select name, value from profile")),
        (QList<QVariantList>{{QStringLiteral("during"), 1}}));
}

void tst_ProcessLife::storeWhileReadHeld()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    LockHolder reader(inst.filePath(QStringLiteral("profile.db")), LockHolder::Read, 2);
    QVERIFY(reader.held());
    const Outcome outcome = run(inst, "read held");
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.errors));
    QCOMPARE(outcome.output, (QStringList{"waited long=0", "memory=新医院", "table=新医院"}));
    QCOMPARE(run(inst, "hospital").output, QStringList{"hospital=新医院"});
}

// Another process changes settings while the application runs: it sees them
// within two seconds, as if made here, except the one it changed itself
// meanwhile, which it writes.
void tst_ProcessLife::followsOtherProcess()
{
    TestInstallation inst;
    QVERIFY(inst.create());
    const QString insert = QStringLiteral("insert into profile (name, value) values(?,?)");
    QVERIFY(inst.execSql(QStringLiteral("profile.db"), insert, {"hospital", "seeded"}));
    QVERIFY(inst.execSql(QStringLiteral("profile.db"), insert, {"analysis_display_assay", "PT"}));
    const Outcome outcome = run(inst, "follow");
    QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.errors));
    QCOMPARE(
        outcome.output,
        (QStringList{"cell before=12.5 ↑", "within two seconds=1", "color_of_upper_mark=#0000ff",
                     "max_qc_file=12", "removed analysis_display_assay", "upper_mark_limit_flag=H",
                     "getters=H #0000ff 12 none 1 local", "cell after=12.5 H", "synced=1"}));
    QCOMPARE(inst.query(QStringLiteral("profile.db"),
                        QStringLiteral("select value from profile where name = 'hospital'")),
             (QList<QVariantList>{{QStringLiteral("local")}}));
}

int main(int argc, char **argv)
{
    const QByteArray child = qgetenv(childVariable);
    if (!child.isEmpty())
        writeMessagesAsUtf8();
    if (child == "headless")
        return headless(argc, argv);
    if (child == "no application")
        return scriptWithoutApplication();
    if (child == "quitting")
        return changesWhileQuitting(argc, argv);
    if (child == "before application")
        return storeBeforeApplication(argc, argv);
    if (child == "transaction at quit")
        return transactionAtQuit(argc, argv);
    QApplication app(argc, argv);
    static const struct
    {
        const char *name;
        int (*run)();
    } children[] = {
        {"startup", startupBoxAsksForStore},
        {"exit", storeUsedAtExit},
        {"afterloop", storeAfterEventLoop},
        {"workerfirst", workerStartsStore},
        {"workerfirst broken", workerStartsBrokenStore},
        {"racing", racingFirstCalls},
        {"twostores", twoStores},
        {"write", writeValues},
        {"read", readValues},
        {"read held", storeWhileReadHeld},
        {"hospital", readHospital},
        {"follow", followOtherProcess},
        {"change from outside", changeFromOutside},
    };
    for (const auto &entry : children) {
        if (child == entry.name)
            return entry.run();
    }
    tst_ProcessLife test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_processlife.moc"
