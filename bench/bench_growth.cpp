// What years of use do to the library: a worker thread flooding the settings
// store, start-up over a large table `profile`, curves and sample numbers
// over millions of rows. Each figure is measured beside a reference in the
// same run; the large sites come from sitegenerator.cpp.
#include "sitegenerator.h"

#include "analysisresult.h"
#include "installation.h"
#include "krglobal.h"
#include "profile.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QTimer>
#include <QtCore/QVector>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlQuery>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <time.h>

namespace {

// Five years of about a thousand samples a day, curves kept for the last
// year or so; and a site on its first day, for the same calls at small sizes.
const SiteShape largeShape = {"large", 5 * 365 + 1, 2000000, 1000, 1000000, 10000};
const SiteShape smallShape = {"small", 1, 1000, 1000, 1000, 100};

// Kept next to the program, that is in the build directory.
std::optional<Site> makeSite(const SiteShape &shape)
{
    Site site;
    QString error;
    const QString sites = QCoreApplication::applicationDirPath() + QStringLiteral("/sites");
    if (!prepareSite(sites, shape, &site, &error)) {
        fprintf(stderr, "cannot prepare the site \"%s\": %s\n", shape.name, qPrintable(error));
        return std::nullopt;
    }
    return site;
}

const Site *largeSite()
{
    static const std::optional<Site> site = makeSite(largeShape);
    return site ? &*site : nullptr;
}

const Site *smallSite()
{
    static const std::optional<Site> site = makeSite(smallShape);
    return site ? &*site : nullptr;
}

// Patients or curves, as the argument of a benchmark tells.
const Site *siteOfSize(qint64 rows)
{
    return rows > smallShape.patients ? largeSite() : smallSite();
}

// The journal mode and sync setting of a library connection, which a
// reference connection takes over so that both pay for the same durability.
struct Durability
{
    QString journalMode;
    int synchronous = -1;

    QString pragmas() const
    {
        return QStringLiteral("pragma journal_mode = %1; pragma synchronous = %2")
            .arg(journalMode)
            .arg(synchronous);
    }
};

Durability durabilityOf(const QSqlDatabase &db)
{
    Durability durability;
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("pragma journal_mode")) && query.next())
        durability.journalMode = query.value(0).toString();
    if (query.exec(QStringLiteral("pragma synchronous")) && query.next())
        durability.synchronous = query.value(0).toInt();
    return durability;
}

struct Closer
{
    void operator()(sqlite3 *db) const { sqlite3_close(db); }
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, Closer>;
using Statement = std::unique_ptr<sqlite3_stmt, Closer>;

Database openReference(const QString &file, const Durability &durability, benchmark::State &state)
{
    sqlite3 *db = nullptr;
    const int rc =
        sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    Database owned(db);
    if (rc != SQLITE_OK || durability.synchronous < 0
        || sqlite3_exec(db, durability.pragmas().toUtf8().constData(), nullptr, nullptr, nullptr)
            != SQLITE_OK) {
        state.SkipWithError(qPrintable(QStringLiteral("cannot open %1 as the library does: %2")
                                           .arg(file, QString::fromUtf8(sqlite3_errmsg(db)))));
        return nullptr;
    }
    sqlite3_busy_timeout(db, 30000);
    state.SetLabel(qPrintable(durability.pragmas()));
    return owned;
}

Statement prepare(sqlite3 *db, const char *sql, benchmark::State &state)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        state.SkipWithError(sqlite3_errmsg(db));
    return Statement(statement);
}

void bindText(sqlite3_stmt *statement, int column, const QString &text)
{
    sqlite3_bind_text16(statement, column, text.utf16(), int(text.size() * 2), SQLITE_STATIC);
}

// Points the store's data connection at another file while it lives, as an
// application does that opens a copy of its data.
class DataFile
{
public:
    explicit DataFile(const QString &file)
        : m_previous(Profile::instance().dataDatabase().databaseName())
        , m_open(reopen(file))
    { }
    ~DataFile() { reopen(m_previous); }
    bool isOpen() const { return m_open; }

private:
    static bool reopen(const QString &file)
    {
        QSqlDatabase db = Profile::instance().dataDatabase();
        db.close();
        db.setDatabaseName(file);
        return db.open();
    }

    QString m_previous;
    bool m_open;
};

void trim(const Site &site, benchmark::State &state)
{
    QString error;
    if (!trimSite(site, &error))
        state.SkipWithError(qPrintable(error));
}

// --- 10 000 persisted changes from a worker thread

constexpr int floodSize = 10000;

// A hundred positions of the instrument, each with fifty counters and fifty
// states.
QString floodKey(int i)
{
    return QStringLiteral("instrument/position%1/%2%3")
        .arg(i / 100)
        .arg(i % 2 ? QLatin1String("state") : QLatin1String("counter"))
        .arg(i % 100 / 2);
}

const QString &stateName(int n)
{
    static const QString names[] = {QStringLiteral("idle"), QStringLiteral("dispensing"),
                                    QStringLiteral("incubating"), QStringLiteral("measuring"),
                                    QStringLiteral("cleaning")};
    return names[n % 5];
}

QVariant floodValue(int round, int i)
{
    return i % 2 ? QVariant(stateName(round + i)) : QVariant(round * floodSize + i);
}

QVector<QString> floodKeys()
{
    QVector<QString> keys;
    keys.reserve(floodSize);
    for (int i = 0; i < floodSize; ++i)
        keys << floodKey(i);
    return keys;
}

// The table of the process-wide store holds the last round's values.
bool floodStored(int round)
{
    QSqlQuery query(Profile::instance().database());
    if (!query.exec(QStringLiteral("select count(*) from profile where name like 'instrument/%'"))
        || !query.next() || query.value(0).toInt() != floodSize)
        return false;
    for (int i : {0, floodSize - 2, floodSize - 1}) {
        query.prepare(QStringLiteral("select value from profile where name = ?"));
        query.addBindValue(floodKey(i));
        if (!query.exec() || !query.next()
            || query.value(0).toString() != floodValue(round, i).toString())
            return false;
    }
    return true;
}

// How the owning thread wrote a flood, seen from hooks on the store's own
// connection: a stall of its event loop is one of these transactions.
struct WriteWatch
{
    QElapsedTimer clock;
    qint64 firstRow = 0; // ns, of the transaction under way
    qint64 firstRowCpu = 0; // ns of the writing thread's processor time
    int rows = 0;
    int transactions = 0;
    int largestRows = 0;
    // From a transaction's first row to its commit, the sync to disk left out:
    // as the clock on the wall goes, and as the writing thread ran, which
    // other processes on the machine do not stretch.
    double longestMs = 0.0;
    double longestCpuMs = 0.0;

    static qint64 threadCpu()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }
    static void rowWritten(void *watch, int, const char *, const char *, sqlite3_int64)
    {
        auto *w = static_cast<WriteWatch *>(watch);
        if (w->rows++ == 0) {
            w->firstRow = w->clock.nsecsElapsed();
            w->firstRowCpu = threadCpu();
        }
    }
    static int committing(void *watch)
    {
        auto *w = static_cast<WriteWatch *>(watch);
        ++w->transactions;
        w->largestRows = std::max(w->largestRows, w->rows);
        w->longestMs = std::max(w->longestMs, (w->clock.nsecsElapsed() - w->firstRow) / 1e6);
        w->longestCpuMs = std::max(w->longestCpuMs, (threadCpu() - w->firstRowCpu) / 1e6);
        w->rows = 0;
        return 0;
    }
    static void rolledBack(void *watch) { static_cast<WriteWatch *>(watch)->rows = 0; }
};

// The worker's time from its first setValue() until sync() confirms the
// table; meanwhile this thread runs its event loop with a 1 ms timer, whose
// worst lateness is the longest the user interface would have frozen.
void BM_profile_workerFlood(benchmark::State &state)
{
    Profile &profile = Profile::instance();
    const QVector<QString> keys = floodKeys();
    sqlite3 *connection = handleOf(profile.database());
    if (!connection) {
        state.SkipWithError("the store's connection is not an SQLite one");
        return;
    }
    WriteWatch watch;
    watch.clock.start();
    sqlite3_update_hook(connection, &WriteWatch::rowWritten, &watch);
    sqlite3_commit_hook(connection, &WriteWatch::committing, &watch);
    sqlite3_rollback_hook(connection, &WriteWatch::rolledBack, &watch);
    double worstStall = 0.0, settingMs = 0.0, settingCpuMs = 0.0;
    int round = 0;
    for (auto _ : state) {
        ++round;
        QEventLoop loop;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        QElapsedTimer clock;
        qint64 lastTick = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            worstStall = std::max(worstStall, (now - lastTick) / 1e6 - tick.interval());
            lastTick = now;
        });
        bool stored = false;
        double seconds = 0.0, setting = 0.0, settingCpu = 0.0;
        clock.start();
        tick.start();
        std::thread worker([&] {
            using Clock = std::chrono::steady_clock;
            const auto start = Clock::now();
            const qint64 startCpu = WriteWatch::threadCpu();
            for (int i = 0; i < floodSize; ++i)
                profile.setValue(keys.at(i), floodValue(round, i));
            const auto set = Clock::now();
            settingCpu = (WriteWatch::threadCpu() - startCpu) / 1e6;
            stored = profile.sync();
            setting = std::chrono::duration<double>(set - start).count();
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        });
        loop.exec();
        worker.join();
        state.SetIterationTime(seconds);
        settingMs += setting * 1000.0;
        settingCpuMs += settingCpu;
        if (!stored) {
            state.SkipWithError("sync() from the worker failed");
            break;
        }
    }
    sqlite3_update_hook(connection, nullptr, nullptr);
    sqlite3_commit_hook(connection, nullptr, nullptr);
    sqlite3_rollback_hook(connection, nullptr, nullptr);
    if (!floodStored(round))
        state.SkipWithError("the table does not hold the worker's values");
    state.counters["stall_worst_ms"] = worstStall;
    state.counters["transactions"] =
        benchmark::Counter(watch.transactions, benchmark::Counter::kAvgIterations);
    // The worker's own part: its 10 000 calls, before it waits in sync().
    state.counters["setValue_ms"] =
        benchmark::Counter(settingMs, benchmark::Counter::kAvgIterations);
    state.counters["setValue_cpu_ms"] =
        benchmark::Counter(settingCpuMs, benchmark::Counter::kAvgIterations);
    state.counters["largest_batch_rows"] = watch.largestRows;
    state.counters["longest_batch_ms"] = watch.longestMs;
    state.counters["longest_batch_cpu_ms"] = watch.longestCpuMs;
}
BENCHMARK(BM_profile_workerFlood)->Iterations(10)->UseManualTime();

// The same rows in one transaction of a prepared insert, on a file beside the
// store's profile.db with the store's journal and sync settings.
void BM_sqlite_floodReference(benchmark::State &state)
{
    const QSqlDatabase library = Profile::instance().database();
    const QString file =
        QFileInfo(library.databaseName()).absolutePath() + QStringLiteral("/flood-reference.db");
    QString error;
    if (!QFileInfo::exists(file)
        && !Installation::createDatabase(file, QStringLiteral("profile"), &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const Database db = openReference(file, durabilityOf(library), state);
    if (!db)
        return;
    const Statement insert =
        prepare(db.get(), "insert or replace into profile (name, value) values(?,?)", state);
    if (!insert)
        return;
    const QVector<QString> keys = floodKeys();
    int round = 0;
    for (auto _ : state) {
        ++round;
        sqlite3_exec(db.get(), "begin", nullptr, nullptr, nullptr);
        for (int i = 0; i < floodSize; ++i) {
            sqlite3_stmt *s = insert.get();
            sqlite3_reset(s);
            bindText(s, 1, keys.at(i));
            if (i % 2)
                bindText(s, 2, stateName(round + i));
            else
                sqlite3_bind_int64(s, 2, round * floodSize + i);
            if (sqlite3_step(s) != SQLITE_DONE)
                state.SkipWithError(sqlite3_errmsg(db.get()));
        }
        if (sqlite3_exec(db.get(), "commit", nullptr, nullptr, nullptr) != SQLITE_OK)
            state.SkipWithError(sqlite3_errmsg(db.get()));
    }
}
BENCHMARK(BM_sqlite_floodReference)->Iterations(10)->UseRealTime();

// --- Start-up with 10 000 rows in `profile`

// A store of its own runs the same start-up as the first instance(): the
// settings file, the four connections and the whole table into memory.
void BM_profile_startup(benchmark::State &state)
{
    const Site *site = largeSite();
    if (!site) {
        state.SkipWithError("no site");
        return;
    }
    const QString previous = QDir::currentPath();
    QDir::setCurrent(site->directory);
    int keys = 0;
    for (auto _ : state) {
        auto store = std::make_unique<Profile>();
        state.PauseTiming();
        keys = store->keys().size();
        store.reset();
        state.ResumeTiming();
    }
    QDir::setCurrent(previous);
    if (keys != site->settings)
        state.SkipWithError("start-up did not load every row");
}
BENCHMARK(BM_profile_startup);

QVariant columnValue(sqlite3_stmt *statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
    case SQLITE_TEXT:
        return QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
            sqlite3_column_bytes(statement, column));
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, column)),
                          sqlite3_column_bytes(statement, column));
    default:
        return QVariant();
    }
}

// Opening the file and reading its rows, which any start-up has to do;
// closing it, like the store's destruction, is left out.
void BM_sqlite_profileLoad(benchmark::State &state)
{
    const Site *site = largeSite();
    if (!site) {
        state.SkipWithError("no site");
        return;
    }
    const QByteArray file = QFile::encodeName(site->profileFile);
    int rows = 0;
    for (auto _ : state) {
        sqlite3 *db = nullptr;
        sqlite3_stmt *select = nullptr;
        QHash<QString, QVariant> values;
        if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK
            && sqlite3_prepare_v2(db, "select name, value from profile", -1, &select, nullptr)
                == SQLITE_OK) {
            while (sqlite3_step(select) == SQLITE_ROW) {
                values.insert(QString::fromUtf8(
                                  reinterpret_cast<const char *>(sqlite3_column_text(select, 0)),
                                  sqlite3_column_bytes(select, 0)),
                              columnValue(select, 1));
            }
        }
        state.PauseTiming();
        rows = values.size();
        sqlite3_finalize(select);
        sqlite3_close(db);
        values = QHash<QString, QVariant>();
        state.ResumeTiming();
    }
    if (rows != site->settings)
        state.SkipWithError("not every row was read");
}
BENCHMARK(BM_sqlite_profileLoad);

// --- A curve stored and read back, on a small and on a large data.db

const QString &itemName(int n)
{
    static const QString names[] = {QStringLiteral("PT"), QStringLiteral("APTT"),
                                    QStringLiteral("TT"), QStringLiteral("FIB")};
    return names[n % 4];
}

// A long recording: 960 points every 0.1 s, then 40 every 0.5 s.
ClotCurve thousandPointCurve()
{
    QVector<double> fine, coarse;
    for (int i = 0; i < 960; ++i)
        fine << 1200.0 - 700.0 / (1.0 + std::exp(-(i * 0.1 - 35.0) * 1.5)) + 2.0 * std::sin(i);
    for (int i = 0; i < 40; ++i)
        coarse << 500.0 - i * 0.5;
    ClotCurve curve;
    curve.append(0.0, 0.1, fine);
    curve.append(96.0, 0.5, coarse);
    return curve;
}

// Each iteration a new sample's curve, as the instrument stores them; the
// rows are deleted again afterwards, so that the site keeps its size.
void BM_curve_storeLoad(benchmark::State &state)
{
    const Site *site = siteOfSize(state.range(0));
    if (!site) {
        state.SkipWithError("no site");
        return;
    }
    ClotCurve last;
    {
        const DataFile data(site->dataFile);
        if (!data.isOpen()) {
            state.SkipWithError("cannot open the site's data.db");
            return;
        }
        const ClotCurve curve = thousandPointCurve();
        int patientId = site->patients;
        for (auto _ : state) {
            ++patientId;
            const QString &item = itemName(patientId);
            bool loaded = false;
            if (!curve.store(patientId, item, 1)
                || (last = ClotCurve::load(patientId, item, 1, &loaded), !loaded)) {
                state.SkipWithError("store or load failed");
                break;
            }
        }
        if (last != curve)
            state.SkipWithError("the curve read back differs");
    }
    trim(*site, state);
}
BENCHMARK(BM_curve_storeLoad)
    ->Arg(smallShape.curves)
    ->Arg(largeShape.curves)
    ->Iterations(200)
    ->UseRealTime();

// The same statements, prepared once, with the blob made once.
void BM_sqlite_curveStoreLoad(benchmark::State &state)
{
    const Site *site = siteOfSize(state.range(0));
    if (!site) {
        state.SkipWithError("no site");
        return;
    }
    {
        const Database db =
            openReference(site->dataFile, durabilityOf(Profile::instance().dataDatabase()), state);
        if (!db)
            return;
        const Statement insert = prepare(
            db.get(), "insert into curve (patientId, item, version, curve) values(?,?,?,?)", state);
        const Statement select =
            prepare(db.get(),
                    "select curve from curve where patientId = ? and item = ? and version = ? "
                    "order by rowid desc limit 1",
                    state);
        if (!insert || !select)
            return;
        const QByteArray blob = thousandPointCurve().toBuffer();
        int patientId = site->patients;
        QByteArray read;
        for (auto _ : state) {
            ++patientId;
            const QString &item = itemName(patientId);
            sqlite3_stmt *s = insert.get();
            sqlite3_reset(s);
            sqlite3_bind_int(s, 1, patientId);
            bindText(s, 2, item);
            sqlite3_bind_int(s, 3, 1);
            sqlite3_bind_blob(s, 4, blob.constData(), blob.size(), SQLITE_STATIC);
            if (sqlite3_step(s) != SQLITE_DONE) {
                state.SkipWithError(sqlite3_errmsg(db.get()));
                break;
            }
            s = select.get();
            sqlite3_reset(s);
            sqlite3_bind_int(s, 1, patientId);
            bindText(s, 2, item);
            sqlite3_bind_int(s, 3, 1);
            if (sqlite3_step(s) != SQLITE_ROW) {
                state.SkipWithError(sqlite3_errmsg(db.get()));
                break;
            }
            read = QByteArray(static_cast<const char *>(sqlite3_column_blob(s, 0)),
                              sqlite3_column_bytes(s, 0));
            sqlite3_reset(s);
        }
        if (read != blob)
            state.SkipWithError("the blob read back differs");
    }
    trim(*site, state);
}
BENCHMARK(BM_sqlite_curveStoreLoad)->Arg(largeShape.curves)->Iterations(200)->UseRealTime();

// --- The next sample number of a day with a thousand samples

void BM_nextSampleNo(benchmark::State &state)
{
    const Site *site = siteOfSize(state.range(0));
    if (!site) {
        state.SkipWithError("no site");
        return;
    }
    const DataFile data(site->dataFile);
    int number = 0;
    bool ok = false;
    for (auto _ : state)
        number = nextSampleNo(site->lastDay, &ok);
    if (!ok || number != site->nextSampleNo)
        state.SkipWithError("not the next number of the site's last day");
}
BENCHMARK(BM_nextSampleNo)->Arg(smallShape.patients)->Arg(largeShape.patients);

} // namespace
