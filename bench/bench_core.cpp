// Each benchmark of a library call is paired with a reference that does the
// same work without the library, measured in the same run; report.py prints
// the ratios.
#include "analysisresult.h"
#include "installation.h"
#include "krglobal.h"
#include "profile.h"
#include "sitegenerator.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QEventLoop>
#include <QtCore/QHash>
#include <QtCore/QRandomGenerator>
#include <QtCore/QSharedData>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtGui/QBrush>
#include <QtGui/QColor>
#include <QtSql/QSqlQuery>

#include <benchmark/benchmark.h>
#include <boost/crc.hpp>
#include <sqlite3.h>
#include <time.h>

#include <cstring>
#include <utility>

// --- CRC-16 over 1 MiB

static QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(2026);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

static void BM_crc16(benchmark::State &state)
{
    const QByteArray data = randomBytes(1 << 20);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc16(data.constData(), data.size()));
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(BM_crc16);

static void BM_crc16_boost(benchmark::State &state)
{
    const QByteArray data = randomBytes(1 << 20);
    for (auto _ : state) {
        boost::crc_optimal<16, 0x1021, 0xFFFF, 0, false, false> crc;
        crc.process_bytes(data.constData(), size_t(data.size()));
        benchmark::DoNotOptimize(crc.checksum());
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(BM_crc16_boost);

// --- CRC-16 of one serial frame, the size the instrument sends many times a second

static void BM_crc16_frame(benchmark::State &state)
{
    QByteArray frame = randomBytes(32);
    for (auto _ : state) {
        // The frame counts as new each time: nothing is computed once for all.
        benchmark::DoNotOptimize(frame.data());
        benchmark::DoNotOptimize(crc16(frame.constData(), frame.size()));
    }
}
BENCHMARK(BM_crc16_frame);

static void BM_crc16_frame_boost(benchmark::State &state)
{
    QByteArray frame = randomBytes(32);
    for (auto _ : state) {
        benchmark::DoNotOptimize(frame.data());
        boost::crc_optimal<16, 0x1021, 0xFFFF, 0, false, false> crc;
        crc.process_bytes(frame.constData(), size_t(frame.size()));
        benchmark::DoNotOptimize(crc.checksum());
    }
}
BENCHMARK(BM_crc16_frame_boost);

// --- Curve byte form, 100 000 points

static ClotCurve bigCurve()
{
    QVector<double> values(100000);
    for (int i = 0; i < values.size(); ++i)
        values[i] = 1000.0 - i * 0.001;
    ClotCurve curve;
    curve.append(0.0, 0.1, values);
    return curve;
}

static void BM_curve_toBuffer(benchmark::State &state)
{
    const ClotCurve curve = bigCurve();
    for (auto _ : state)
        benchmark::DoNotOptimize(curve.toBuffer());
    state.SetBytesProcessed(state.iterations() * curve.toBuffer().size());
}
BENCHMARK(BM_curve_toBuffer);

static void BM_curve_fromBuffer(benchmark::State &state)
{
    const QByteArray bytes = bigCurve().toBuffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(ClotCurve::fromBuffer(bytes));
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_curve_fromBuffer);

// The same bytes copied into a fresh buffer.
static void BM_curve_memcpy(benchmark::State &state)
{
    const QByteArray bytes = bigCurve().toBuffer();
    for (auto _ : state) {
        QByteArray copy(bytes.size(), Qt::Uninitialized);
        std::memcpy(copy.data(), bytes.constData(), size_t(bytes.size()));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_curve_memcpy);

// --- Result handles

static void BM_result_copy(benchmark::State &state)
{
    const AnalysisResult result(12.5);
    for (auto _ : state) {
        AnalysisResult copy(result);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_result_copy);

static void BM_result_default(benchmark::State &state)
{
    for (auto _ : state) {
        AnalysisResult result;
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_result_default);

struct SharedBlock : QSharedData
{
    double value = 12.5;
};

static void BM_shareddatapointer_copy(benchmark::State &state)
{
    const QSharedDataPointer<SharedBlock> block(new SharedBlock);
    for (auto _ : state) {
        QSharedDataPointer<SharedBlock> copy(block);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_shareddatapointer_copy);

// A value handed on twice, as through a by-value parameter into a container.
static void BM_result_move(benchmark::State &state)
{
    AnalysisResult a(12.5), b;
    for (auto _ : state) {
        b = std::move(a);
        a = std::move(b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_result_move);

static void BM_shareddatapointer_move(benchmark::State &state)
{
    QSharedDataPointer<SharedBlock> a(new SharedBlock), b;
    for (auto _ : state) {
        b = std::move(a);
        a = std::move(b);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(BM_shareddatapointer_move);

// --- Result text, with the settings store attached

static AnalysisResult markedResult()
{
    AnalysisResult result(12.5);
    result.setFlags(0x8024);
    result.flagsToError();
    return result;
}

static void BM_result_toString(benchmark::State &state)
{
    const AnalysisResult result = markedResult();
    for (auto _ : state)
        benchmark::DoNotOptimize(result.toString(AnalysisResult::FullText, 'f', 1));
}
BENCHMARK(BM_result_toString);

static void BM_number_toString(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(QString::number(12.5, 'f', 1));
}
BENCHMARK(BM_number_toString);

static void BM_result_fromString(benchmark::State &state)
{
    const QString text = markedResult().toString(AnalysisResult::FullText, 'f', 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(AnalysisResult::fromString(text));
}
BENCHMARK(BM_result_fromString);

static void BM_result_foregroundRole(benchmark::State &state)
{
    const AnalysisResult result = markedResult();
    for (auto _ : state)
        benchmark::DoNotOptimize(result.foregroundRole());
}
BENCHMARK(BM_result_foregroundRole);

static void BM_color_copy(benchmark::State &state)
{
    const QColor color(255, 170, 0);
    for (auto _ : state) {
        QColor copy(color);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_color_copy);

// What any call that hands a cell its brush costs at least.
static void BM_brush_variant_copy(benchmark::State &state)
{
    const QVariant brush = QBrush(QColor(255, 170, 0), Qt::SolidPattern);
    for (auto _ : state) {
        QVariant copy(brush);
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_brush_variant_copy);

static void BM_number_toDouble(benchmark::State &state)
{
    const QString text = QStringLiteral("12.5");
    for (auto _ : state)
        benchmark::DoNotOptimize(text.toDouble());
}
BENCHMARK(BM_number_toDouble);

// --- Settings lookups from two threads at once

static void BM_profile_value(benchmark::State &state)
{
    Profile &profile = Profile::instance();
    const QString key = QStringLiteral("hospital");
    for (auto _ : state)
        benchmark::DoNotOptimize(profile.value(key));
}
BENCHMARK(BM_profile_value)->Threads(2)->UseRealTime();

static void BM_qhash_value(benchmark::State &state)
{
    static const QHash<QString, QVariant> values = {
        {QStringLiteral("hospital"), QStringLiteral("x")}};
    const QString key = QStringLiteral("hospital");
    for (auto _ : state)
        benchmark::DoNotOptimize(values.value(key));
}
BENCHMARK(BM_qhash_value)->Threads(2)->UseRealTime();
BENCHMARK(BM_qhash_value);

// --- The store while the application idles: a look each second at whether
// another connection changed the table

static void BM_profile_dataVersion(benchmark::State &state)
{
    QSqlQuery query(Profile::instance().database());
    for (auto _ : state) {
        query.exec(QStringLiteral("pragma data_version"));
        query.next();
        benchmark::DoNotOptimize(query.value(0));
    }
}
BENCHMARK(BM_profile_dataVersion);

struct IdleStatements
{
    int checks = 0;
    int all = 0;
};

static int statementRun(unsigned, void *seen, void *statement, void *)
{
    auto *statements = static_cast<IdleStatements *>(seen);
    ++statements->all;
    if (std::strstr(sqlite3_sql(static_cast<sqlite3_stmt *>(statement)), "data_version"))
        ++statements->checks;
    return 0;
}

static double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

// The statements on the connection the store checks with (opened at its
// first check) and the owning thread's processor time while its event loop has
// nothing else to do for ten seconds.
static void BM_profile_idle(benchmark::State &state)
{
    Profile::instance();
    QEventLoop firstCheck;
    QTimer::singleShot(1500, &firstCheck, &QEventLoop::quit);
    firstCheck.exec();
    const QStringList names = QSqlDatabase::connectionNames().filter(QStringLiteral("store watch"));
    sqlite3 *connection = names.size() == 1 ? handleOf(QSqlDatabase::database(names.first())) : nullptr;
    if (!connection) {
        state.SkipWithError("no connection of the store's checks");
        return;
    }
    constexpr int seconds = 10;
    IdleStatements seen;
    double cpu = 0.0;
    sqlite3_trace_v2(connection, SQLITE_TRACE_STMT, &statementRun, &seen);
    for (auto _ : state) {
        const double start = threadCpuSeconds();
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        cpu += threadCpuSeconds() - start;
    }
    sqlite3_trace_v2(connection, 0, nullptr, nullptr);
    const double idle = double(seconds) * state.iterations();
    state.counters["checks_per_second"] = seen.checks / idle;
    state.counters["statements_per_second"] = seen.all / idle;
    state.counters["cpu_us_per_second"] = cpu * 1e6 / idle;
}
BENCHMARK(BM_profile_idle)->Iterations(1)->UseRealTime();

// --- A persisted setting against a raw prepared SQLite insert of the same row

static void BM_profile_setValue(benchmark::State &state)
{
    Profile &profile = Profile::instance();
    int i = 0;
    for (auto _ : state)
        profile.setValue(QStringLiteral("bench"), ++i, true);
}
BENCHMARK(BM_profile_setValue);

static void BM_sqlite_insert(benchmark::State &state)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open("reference.db", &db) != SQLITE_OK
        || sqlite3_exec(db, "create table if not exists profile (name text primary key, value)",
                        nullptr, nullptr, nullptr)
            != SQLITE_OK) {
        state.SkipWithError("cannot create reference.db");
        sqlite3_close(db);
        return;
    }
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, "insert or replace into profile (name, value) values(?,?)", -1, &insert,
                       nullptr);
    int i = 0;
    for (auto _ : state) {
        sqlite3_reset(insert);
        sqlite3_bind_text(insert, 1, "bench", -1, SQLITE_STATIC);
        sqlite3_bind_int(insert, 2, ++i);
        if (sqlite3_step(insert) != SQLITE_DONE)
            state.SkipWithError(sqlite3_errmsg(db));
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
}
BENCHMARK(BM_sqlite_insert);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The settings store attached to a fresh installation of its own.
    QTemporaryDir installation;
    QString error;
    if (!installation.isValid() || !Installation::layOut(installation.path(), &error)) {
        fprintf(stderr, "cannot lay out an installation: %s\n", qPrintable(error));
        return 1;
    }
    QDir::setCurrent(installation.path());
    Profile::instance().setValue(QStringLiteral("hospital"), QStringLiteral("bench"), true);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
