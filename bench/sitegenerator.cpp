#include "sitegenerator.h"

#include "analysisresult.h"
#include "installation.h"
#include "profile.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QRandomGenerator>
#include <QtCore/QVector>
#include <QtCore/QtAlgorithms>
#include <QtGui/QColor>
#include <QtSql/QSqlDriver>

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <iterator>
#include <memory>

namespace {

// Part of every site's stamp: a site made by another version is made again.
// Raise it whenever what the generator writes changes.
constexpr int generatorVersion = 1;

// The site's today. Fixed, so that every run queries the same day.
const QDate today(2025, 6, 30);

const char *const items[] = {"PT", "APTT", "TT", "FIB"};
constexpr int itemCount = 4;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

struct Closer
{
    void operator()(sqlite3 *db) const { sqlite3_close(db); }
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, Closer>;
using Statement = std::unique_ptr<sqlite3_stmt, Closer>;

// A connection for bulk loading: no journal and no syncs, as the site only
// counts once its stamp is written after everything else.
Database openForLoading(const QString &file, QString *error)
{
    sqlite3 *db = nullptr;
    const int rc =
        sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    Database owned(db);
    if (rc != SQLITE_OK) {
        fail(error, QStringLiteral("%1: %2").arg(file, QString::fromUtf8(sqlite3_errmsg(db))));
        return nullptr;
    }
    sqlite3_exec(db,
                 "pragma journal_mode = off; pragma synchronous = off; "
                 "pragma cache_size = -262144",
                 nullptr, nullptr, nullptr);
    return owned;
}

bool exec(sqlite3 *db, const char *sql, QString *error)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    return fail(
        error,
        QStringLiteral("%1: %2").arg(QLatin1String(sql), QString::fromUtf8(sqlite3_errmsg(db))));
}

Statement prepare(sqlite3 *db, const char *sql, QString *error)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        fail(error,
             QStringLiteral("%1: %2").arg(QLatin1String(sql),
                                          QString::fromUtf8(sqlite3_errmsg(db))));
    return Statement(statement);
}

bool step(sqlite3 *db, sqlite3_stmt *statement, QString *error)
{
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (rc == SQLITE_DONE || rc == SQLITE_ROW)
        return true;
    return fail(error, QString::fromUtf8(sqlite3_errmsg(db)));
}

void bindText(sqlite3_stmt *statement, int column, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, column, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
}

// --- The table `profile`

// Keys as the application names its settings, section/subject/parameter.
const char *const sections[] = {"assay",   "reagent", "qc",  "calibration",
                                "channel", "printer", "lis", "window"};
const char *const subjects[] = {"PT",   "APTT", "TT",  "FIB",  "DD",  "FDP",   "AT3", "PC",
                                "PS",   "FII",  "FV",  "FVII", "FX",  "FVIII", "FIX", "FXI",
                                "FXII", "VWF",  "LA1", "LA2",  "PLG", "HEP",   "APC", "TAT"};
struct Parameter
{
    const char *name;
    char type; // 'i' integer, 'r' real, 't' text, 'c' colour, 'l' list
};
const Parameter parameters[] = {{"name", 't'},
                                {"unit", 't'},
                                {"decimals", 'i'},
                                {"reagent", 't'},
                                {"lot", 't'},
                                {"expiry", 't'},
                                {"a", 'r'},
                                {"b", 'r'},
                                {"c", 'r'},
                                {"normal_low", 'r'},
                                {"normal_high", 'r'},
                                {"report_low", 'r'},
                                {"report_high", 'r'},
                                {"incubation", 'i'},
                                {"sample_volume", 'i'},
                                {"reagent_volume", 'i'},
                                {"wavelength", 'i'},
                                {"gain", 'i'},
                                {"max_time", 'i'},
                                {"count", 'i'},
                                {"used", 'i'},
                                {"state", 't'},
                                {"color", 'c'},
                                {"enabled", 'i'},
                                {"dilutions", 'l'},
                                {"comment", 't'},
                                {"operator", 't'},
                                {"position", 'i'},
                                {"column_widths", 'l'},
                                {"threshold", 'r'},
                                {"blank", 'i'},
                                {"mode", 't'},
                                {"order", 'i'},
                                {"mark_color", 'c'},
                                {"last_run", 't'},
                                {"serial", 't'},
                                {"retries", 'i'},
                                {"timeout", 'i'},
                                {"ratio", 'r'},
                                {"isi", 'r'},
                                {"mnpt", 'r'},
                                {"lines", 'i'},
                                {"header", 't'},
                                {"copies", 'i'}};

QString settingKey(int index)
{
    const int parameterCount = int(std::size(parameters));
    const int subjectCount = int(std::size(subjects));
    const int parameter = index % parameterCount;
    const int subject = (index / parameterCount) % subjectCount;
    const int section = (index / (parameterCount * subjectCount)) % int(std::size(sections));
    const int round = index / (parameterCount * subjectCount * int(std::size(sections)));
    QString key = QStringLiteral("%1/%2/%3")
                      .arg(QLatin1String(sections[section]), QLatin1String(subjects[subject]),
                           QLatin1String(parameters[parameter].name));
    if (round > 0)
        key += QString::number(round + 1);
    return key;
}

// Scalars go in as any program writing the table binds them; lists (the
// dilutions, a table's column widths) through a store of the library's own,
// which alone knows their stored form.
bool fillProfile(const QString &directory, const SiteShape &shape, QString *error)
{
    QRandomGenerator random(1u + uint(shape.settings));
    QVector<int> lists;
    {
        const Database db = openForLoading(directory + QStringLiteral("/profile.db"), error);
        if (!db)
            return false;
        const Statement insert =
            prepare(db.get(), "insert or replace into profile (name, value) values(?,?)", error);
        if (!insert || !exec(db.get(), "begin", error))
            return false;
        sqlite3_stmt *s = insert.get();
        for (int i = 0; i < shape.settings; ++i) {
            const Parameter &parameter = parameters[i % int(std::size(parameters))];
            if (parameter.type == 'l') {
                lists.append(i);
                continue;
            }
            bindText(s, 1, settingKey(i));
            switch (parameter.type) {
            case 'i':
                sqlite3_bind_int64(s, 2, random.bounded(100000));
                break;
            case 'r':
                sqlite3_bind_double(s, 2, random.generateDouble() * 200.0);
                break;
            case 'c':
                bindText(s, 2, QColor::fromRgb(random.generate() & 0xffffff).name());
                break;
            default:
                bindText(s, 2,
                         QStringLiteral("%1 试剂批号 %2")
                             .arg(QLatin1String(parameter.name))
                             .arg(random.bounded(1000000)));
                break;
            }
            if (!step(db.get(), s, error))
                return false;
        }
        if (!exec(db.get(), "commit", error))
            return false;
    }

    const QString previous = QDir::currentPath();
    QDir::setCurrent(directory);
    bool ok = false;
    {
        Profile store;
        for (int i : qAsConst(lists)) {
            QVariantList widths;
            for (int column = 0; column < 12; ++column)
                widths << 40 + random.bounded(120);
            const QStringList dilutions = {QStringLiteral("1/1"), QStringLiteral("1/2"),
                                           QStringLiteral("1/4"), QStringLiteral("1/10")};
            if (QLatin1String(parameters[i % int(std::size(parameters))].name)
                == QLatin1String("dilutions"))
                store.setValue(settingKey(i), dilutions);
            else
                store.setValue(settingKey(i), widths);
        }
        ok = store.sync();
    }
    QDir::setCurrent(previous);
    return ok || fail(error, QStringLiteral("the list settings could not be stored"));
}

// --- The tables `patient` and `curve`

// A raw clot curve as the photometer records it: the signal falls from its
// baseline once fibrin forms, recorded every 0.1 s until a few seconds after
// the clot and then every 0.5 s for 20 s.
ClotCurve clotCurve(double clotTime, double baseline, double drop, quint32 seed)
{
    QRandomGenerator random(seed);
    QVector<double> fine, coarse;
    const int finePoints = int((clotTime + 8.0) * 10.0);
    for (int i = 0; i < finePoints; ++i) {
        const double t = i * 0.1;
        fine << baseline - drop / (1.0 + std::exp(-(t - clotTime) * 1.5))
                + 3.0 * (random.generateDouble() - 0.5);
    }
    for (int i = 0; i < 40; ++i)
        coarse << baseline - drop - i * 0.5 + 3.0 * (random.generateDouble() - 0.5);
    ClotCurve curve;
    curve.append(0.0, 0.1, fine);
    curve.append(finePoints * 0.1, 0.5, coarse);
    return curve;
}

constexpr int variants = 8;

// Stored forms of a few curves of each item, normal and prolonged.
QVector<QByteArray> curvePool()
{
    // Typical clot times (s) of each item.
    const double normal[itemCount] = {12.0, 32.0, 17.0, 8.0};
    QVector<QByteArray> pool;
    for (int item = 0; item < itemCount; ++item) {
        for (int variant = 0; variant < variants; ++variant) {
            const double clotTime = normal[item] * (0.85 + 0.1 * variant * (variant > 5 ? 2 : 1));
            pool << clotCurve(clotTime, 1100.0 + 30.0 * variant, 500.0 + 40.0 * variant,
                              quint32(item * variants + variant))
                        .toBuffer();
        }
    }
    return pool;
}

// What was asked of one sample: a set of items, one of them perhaps run again
// (a new version each time).
struct Order
{
    quint8 items; // bit i for items[i]
    quint8 rerunItem;
    quint8 reruns;
    int rows() const { return int(qPopulationCount(items)) + reruns; }
};

Order randomOrder(QRandomGenerator &random)
{
    const int panel = random.bounded(100);
    Order order{};
    if (panel < 30)
        order.items = 0xf; // PT, APTT, TT and FIB
    else if (panel < 55)
        order.items = 0x3; // PT and APTT
    else if (panel < 75)
        order.items = 0x1; // PT alone: anticoagulant control
    else if (panel < 85)
        order.items = 0x2; // APTT alone: heparin control
    else
        order.items = 0xb; // PT, APTT and FIB
    const int rerun = random.bounded(100);
    order.reruns = rerun < 1 ? 2 : rerun < 6 ? 1 : 0;
    do
        order.rerunItem = quint8(random.bounded(itemCount));
    while (!(order.items & (1 << order.rerunItem)));
    return order;
}

// Samples per day: fewer at weekends, slowly more over the years, with the
// last day holding exactly shape.lastDaySamples.
QVector<int> samplesPerDay(const SiteShape &shape, QRandomGenerator &random)
{
    QVector<int> counts(shape.days, 0);
    counts.last() = shape.lastDaySamples;
    const int earlier = shape.days - 1;
    if (earlier == 0)
        return counts;
    QVector<double> weights(earlier);
    double sum = 0.0;
    const QDate first = today.addDays(-earlier);
    for (int day = 0; day < earlier; ++day) {
        const int weekday = first.addDays(day).dayOfWeek();
        const double week = weekday == 7 ? 0.45 : weekday == 6 ? 0.7 : 1.12;
        const double trend = 0.85 + 0.3 * day / earlier;
        weights[day] = week * trend * (0.9 + 0.2 * random.generateDouble());
        sum += weights[day];
    }
    const int toShare = shape.patients - shape.lastDaySamples;
    int shared = 0;
    for (int day = 0; day < earlier; ++day) {
        counts[day] = int(toShare * weights[day] / sum);
        shared += counts[day];
    }
    for (int day = 0; shared < toShare; day = (day + 1) % earlier, ++shared)
        ++counts[day];
    return counts;
}

const char *const surnames[] = {"王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周",
                                "徐", "孙", "马", "朱", "胡", "郭", "何", "高", "林", "罗"};
const char *const givenNames[] = {"伟", "芳", "娜", "秀英", "敏", "静", "丽", "强", "磊",   "军",
                                  "洋", "勇", "艳", "杰",   "娟", "涛", "明", "超", "秀兰", "霞"};
const char *const departments[] = {"内科",     "外科", "妇产科",     "儿科",     "急诊科", "心内科",
                                   "神经内科", "骨科", "重症医学科", "体检中心", "门诊"};

bool fillData(const QString &directory, const SiteShape &shape, Site *site, QString *error)
{
    const Database db = openForLoading(directory + QStringLiteral("/data.db"), error);
    if (!db)
        return false;
    const Statement insertPatient =
        prepare(db.get(),
                "insert into patient (id, sampleNo, date, name, sex, age, department, bedNo) "
                "values(?,?,?,?,?,?,?,?)",
                error);
    const Statement insertCurve = prepare(
        db.get(), "insert into curve (patientId, item, version, curve) values(?,?,?,?)", error);
    if (!insertPatient || !insertCurve)
        return false;

    QRandomGenerator random(2026u + uint(shape.patients));
    const QVector<int> counts = samplesPerDay(shape, random);
    QVector<Order> orders(shape.patients);
    int id = 0;
    const int commitEvery = 100000;
    if (!exec(db.get(), "begin", error))
        return false;
    sqlite3_stmt *s = insertPatient.get();
    for (int day = 0; day < shape.days; ++day) {
        const QByteArray date =
            today.addDays(day - shape.days + 1).toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
        int routine = 0, statim = 0;
        for (int n = 0; n < counts.at(day); ++n) {
            orders[id] = randomOrder(random);
            ++id;
            sqlite3_bind_int(s, 1, id);
            // Emergencies get the statim prefix and a count of their own.
            const bool isStatim = random.bounded(100) < 3;
            bindText(s, 2,
                     isStatim ? QStringLiteral("S%1").arg(++statim) : QString::number(++routine));
            sqlite3_bind_text(s, 3, date.constData(), date.size(), SQLITE_STATIC);
            bindText(
                s, 4,
                QString::fromUtf8(surnames[random.bounded(int(std::size(surnames)))])
                    + QString::fromUtf8(givenNames[random.bounded(int(std::size(givenNames)))]));
            bindText(s, 5, QString::fromUtf8(random.bounded(2) ? "男" : "女"));
            sqlite3_bind_int(s, 6, random.bounded(1, 96));
            const int department = random.bounded(int(std::size(departments)));
            bindText(s, 7, QString::fromUtf8(departments[department]));
            if (department < 9)
                bindText(s, 8, QStringLiteral("%1床").arg(random.bounded(1, 60)));
            if (!step(db.get(), s, error))
                return false;
            if (id % commitEvery == 0
                && (!exec(db.get(), "commit", error) || !exec(db.get(), "begin", error)))
                return false;
        }
        if (day == shape.days - 1)
            site->nextSampleNo = routine + 1;
    }

    // Curves are kept for the latest samples only: the lab removes older ones.
    int first = shape.patients;
    int rows = 0;
    while (first > 0 && rows < shape.curves)
        rows += orders.at(--first).rows();
    int skip = rows - shape.curves; // rows of the first sample left out
    const QVector<QByteArray> pool = curvePool();
    s = insertCurve.get();
    int written = 0;
    for (int sample = first; sample < shape.patients; ++sample) {
        const Order &order = orders.at(sample);
        for (int item = 0; item < itemCount; ++item) {
            if (!(order.items & (1 << item)))
                continue;
            const int versions = 1 + (item == order.rerunItem ? order.reruns : 0);
            for (int version = 1; version <= versions; ++version) {
                if (skip > 0) {
                    --skip;
                    continue;
                }
                const QByteArray &blob = pool.at(item * variants + random.bounded(variants));
                sqlite3_bind_int(s, 1, sample + 1);
                sqlite3_bind_text(s, 2, items[item], -1, SQLITE_STATIC);
                sqlite3_bind_int(s, 3, version);
                sqlite3_bind_blob(s, 4, blob.constData(), blob.size(), SQLITE_STATIC);
                if (!step(db.get(), s, error))
                    return false;
                if (++written % commitEvery == 0
                    && (!exec(db.get(), "commit", error) || !exec(db.get(), "begin", error)))
                    return false;
            }
        }
    }
    return exec(db.get(), "commit", error);
}

// --- The stamp: what made the site, and what benchmarks need to know of it

QString stampFile(const QString &directory)
{
    return directory + QStringLiteral("/generated-site");
}

QByteArray stampOf(const SiteShape &shape)
{
    return QStringLiteral("generator %1 days %2 patients %3 today %4 curves %5 settings %6 "
                          "lastDaySamples %7")
        .arg(generatorVersion)
        .arg(shape.days)
        .arg(shape.patients)
        .arg(today.toString(Qt::ISODate))
        .arg(shape.curves)
        .arg(shape.settings)
        .arg(shape.lastDaySamples)
        .toLatin1();
}

bool generate(const QString &directory, const SiteShape &shape, Site *site, QString *error)
{
    // Made beside its place and moved there whole, so that an interrupted run
    // leaves no site that looks complete.
    const QString building = directory + QStringLiteral(".building");
    QDir(building).removeRecursively();
    if (!Installation::layOut(building, error))
        return false;
    fprintf(stderr,
            "Generating the site \"%s\" (%d patients, %d curves, %d settings) in %s; "
            "later runs reuse it.\n",
            shape.name, shape.patients, shape.curves, shape.settings, qPrintable(directory));
    QElapsedTimer clock;
    clock.start();
    if (!fillProfile(building, shape, error) || !fillData(building, shape, site, error))
        return false;
    QFile stamp(stampFile(building));
    if (!stamp.open(QIODevice::WriteOnly)
        || stamp.write(stampOf(shape) + " nextSampleNo " + QByteArray::number(site->nextSampleNo)
                       + '\n')
            < 0
        || !stamp.flush())
        return fail(error, QStringLiteral("cannot write %1").arg(stamp.fileName()));
    stamp.close();
    QDir(directory).removeRecursively();
    if (!QDir().rename(building, directory))
        return fail(error, QStringLiteral("cannot move %1 to %2").arg(building, directory));
    fprintf(stderr, "Generated \"%s\" in %.0f s.\n", shape.name, clock.elapsed() / 1000.0);
    return true;
}

// The stamp's facts when it was written for @p shape by this generator.
bool readStamp(const QString &directory, const SiteShape &shape, Site *site)
{
    QFile stamp(stampFile(directory));
    if (!stamp.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stamp.readLine().trimmed();
    const QByteArray expected = stampOf(shape) + " nextSampleNo ";
    if (!line.startsWith(expected))
        return false;
    bool ok = false;
    site->nextSampleNo = line.mid(expected.size()).toInt(&ok);
    return ok;
}

} // namespace

bool prepareSite(const QString &sitesDirectory, const SiteShape &shape, Site *site, QString *error)
{
    if (!QDir().mkpath(sitesDirectory))
        return fail(error, QStringLiteral("cannot make %1").arg(sitesDirectory));
    const QString directory =
        QDir(sitesDirectory).absoluteFilePath(QString::fromLatin1(shape.name));
    if (!readStamp(directory, shape, site) && !generate(directory, shape, site, error))
        return false;
    site->directory = directory;
    site->profileFile = directory + QStringLiteral("/profile.db");
    site->dataFile = directory + QStringLiteral("/data.db");
    site->lastDay = today;
    site->patients = shape.patients;
    site->curves = shape.curves;
    site->settings = shape.settings;
    site->lastDaySamples = shape.lastDaySamples;
    return trimSite(*site, error);
}

bool trimSite(const Site &site, QString *error)
{
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(site.dataFile).constData(), &raw,
                                   SQLITE_OPEN_READWRITE, nullptr);
    const Database db(raw);
    if (rc != SQLITE_OK)
        return fail(error, QString::fromUtf8(sqlite3_errmsg(raw)));
    sqlite3_busy_timeout(raw, 30000);
    const QByteArray sql = QStringLiteral("delete from curve where rowid > %1; "
                                          "delete from patient where id > %2")
                               .arg(site.curves)
                               .arg(site.patients)
                               .toLatin1();
    return exec(raw, sql.constData(), error);
}

sqlite3 *handleOf(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}
