// Start-up of the store singleton. Each case lays out an installation and runs
// this executable again inside it (PROFILE_STARTUP_CHILD set): the child calls
// Profile::instance() once, answers the message boxes and prints what it found
// as JSON, so that no singleton or registered connection outlives a case.

#include "analysisresult.h"
#include "childprocess.h"
#include "installation.h"
#include "krglobal.h"
#include "messageboxanswerer.h"
#include "profile.h"
#include "testinstallation.h"

#include <QtCore/QCryptographicHash>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtCore/QStringEncoder>
#else
#include <QtCore/QTextCodec>
#endif
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtSql/QSqlRecord>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>

#include <cstdio>
#include <optional>

static const char childVariable[] = "PROFILE_STARTUP_CHILD";

static QJsonObject describe(const QSqlDatabase &db)
{
    return {{QStringLiteral("valid"), db.isValid()},
            {QStringLiteral("open"), db.isOpen()},
            {QStringLiteral("path"), db.databaseName()}};
}

// The texts of the boxes shown; *plainWarnings tells whether each was a
// warning with an Ok button.
static QJsonArray shown(const MessageBoxAnswerer &answerer, bool *plainWarnings)
{
    QJsonArray messages;
    *plainWarnings = true;
    for (const MessageBoxAnswerer::Seen &seen : answerer.seen) {
        messages << seen.text;
        *plainWarnings =
            *plainWarnings && seen.icon == QMessageBox::Warning && seen.buttons == QMessageBox::Ok;
    }
    return messages;
}

static int runChild()
{
    MessageBoxAnswerer answerer;
    Profile &profile = Profile::instance();
    // Runs after main() has returned, when the runtime destroys the singleton.
    QObject::connect(&profile, &QObject::destroyed, [] { std::fputs("destroyed\n", stdout); });

    bool plainWarnings = true;
    const QJsonArray messages = shown(answerer, &plainWarnings);
    QStringList keys = profile.keys();
    keys.sort();
    QStringList registered = QSqlDatabase::connectionNames();
    registered.sort();
    const QJsonObject report = {
        {QStringLiteral("messages"), messages},
        {QStringLiteral("plainWarnings"), plainWarnings},
        {QStringLiteral("registered"), QJsonArray::fromStringList(registered)},
        {QStringLiteral("profile"), describe(profile.database())},
        {QStringLiteral("data"), describe(profile.dataDatabase())},
        {QStringLiteral("qc"), describe(profile.qcDatabase())},
        {QStringLiteral("syslog"), describe(profile.syslogDatabase())},
        {QStringLiteral("dataConnection"), profile.dataDatabase().connectionName()},
        {QStringLiteral("workdir"), profile.workdir().absolutePath()},
        {QStringLiteral("keys"), QJsonArray::fromStringList(keys)},
        {QStringLiteral("sameInstance"), &Profile::instance() == &profile},
    };
    // Detached or not, a change reaches memory.
    profile.setValue(QStringLiteral("probe"), 1);
    if (profile.value(QStringLiteral("probe")) != QVariant(1))
        return 1;
    std::puts(QJsonDocument(report).toJson(QJsonDocument::Compact).constData());
    return 0;
}

// The seeded content of a damaged site: settings, samples of one day and
// their curves, some of them longer than a page.
constexpr int seededSettings = 300;
constexpr int seededCurves = 30;
static const QDate seededDay(2026, 12, 7);

static ClotCurve seededCurve(int patientId)
{
    ClotCurve curve;
    curve.append(0.0, 0.1, QVector<double>(50 + 40 * patientId, patientId));
    return curve;
}

// A fingerprint of a curve loaded whole; null for none.
static QJsonValue fingerprint(const ClotCurve &curve, bool whole)
{
    return whole ? QJsonValue(QString::fromLatin1(
               QCryptographicHash::hash(curve.toBuffer(), QCryptographicHash::Sha1).toHex()))
                 : QJsonValue();
}

// Start-up on a damaged site, then what an application does next: reads
// every setting and curve, numbers a sample, stores a curve and a setting.
static int runDamagedChild()
{
    MessageBoxAnswerer answerer;
    WarningCapture warnings;
    Profile &profile = Profile::instance();
    bool plainWarnings = true;
    const QJsonArray messages = shown(answerer, &plainWarnings);
    QJsonObject values;
    for (const QString &key : profile.keys())
        values.insert(key, profile.value(key).toString());
    QJsonArray curves;
    for (int id = 1; id <= seededCurves; ++id) {
        bool whole = false;
        const ClotCurve curve = ClotCurve::load(id, QStringLiteral("PT"), 1, &whole);
        curves << fingerprint(curve, whole);
    }
    bool numbered = false;
    const int sampleNo = nextSampleNo(seededDay, &numbered);
    const bool stored =
        seededCurve(seededCurves + 1).store(seededCurves + 1, QStringLiteral("PT"), 1);
    profile.setValue(QStringLiteral("probe"), 1);
    const bool synced = profile.sync(5000);
    const QJsonObject report = {
        {QStringLiteral("messages"), messages},
        {QStringLiteral("plainWarnings"), plainWarnings},
        {QStringLiteral("warnings"), QJsonArray::fromStringList(warnings.lines())},
        {QStringLiteral("databases"),
         QJsonArray{profile.database().databaseName(), profile.dataDatabase().databaseName(),
                    profile.qcDatabase().databaseName(), profile.syslogDatabase().databaseName()}},
        {QStringLiteral("values"), values},
        {QStringLiteral("curves"), curves},
        {QStringLiteral("sampleNo"), numbered ? sampleNo : -1},
        {QStringLiteral("written"), stored && synced},
    };
    std::puts(QJsonDocument(report).toJson(QJsonDocument::Compact).constData());
    return 0;
}

class tst_ProfileStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startup_data();
    void startup();
    void executableDirectory();
    void damagedSite_data();
    void damagedSite();

private:
    QJsonObject run(const QString &workingDirectory, const QString &program);

    TestInstallation m_seeded; // the site the damaged ones are copies of
};

QJsonObject tst_ProfileStartup::run(const QString &workingDirectory, const QString &program)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(childVariable), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(workingDirectory);
    child.start(program, QStringList());
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        qWarning("child did not finish");
        return {};
    }
    const QByteArray errors = child.readAllStandardError();
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        qWarning("child failed (%d): %s", child.exitCode(), errors.constData());
        return {};
    }
    // The report, then the line that the singleton's destruction writes.
    // Without the CR that ends the C runtime's text lines on Windows.
    const QByteArray output = child.readAllStandardOutput().replace("\r\n", "\n");
    const QList<QByteArray> lines = output.split('\n');
    if (lines.size() != 3 || lines.at(1) != "destroyed") {
        qWarning("unexpected output from child: %s", output.constData());
        return {};
    }
    return QJsonDocument::fromJson(lines.first()).object();
}

using Layout = std::function<bool(TestInstallation &)>;
Q_DECLARE_METATYPE(Layout)

void tst_ProfileStartup::startup_data()
{
    QTest::addColumn<Layout>("layout");
    // Expected message texts, as regular expressions.
    QTest::addColumn<QStringList>("messages");
    // Database names of the four accessors (profile, data, qc, syslog), as
    // the messages give them; an empty name stands for an invalid connection,
    // "@" for the installation. The connections open their absolute form.
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("open"); // "1" or "0" per accessor
    QTest::addColumn<QStringList>("keys");

    const auto literal = [](const QString &text) {
        return QRegularExpression::escape(text);
    };
    const auto seeded = [](const QString &dir) {
        return Layout([dir](TestInstallation &inst) {
            return inst.create(dir)
                && inst.execSql(dir + QStringLiteral("/profile.db"),
                                QStringLiteral("insert into profile values('hospital', 'H')"));
        });
    };
    const auto without = [](const QString &file, const QByteArray &content) {
        return Layout([file, content](TestInstallation &inst) {
            return inst.create(QStringLiteral("."), {file}) && inst.writeFile(file, content);
        });
    };
    const auto unopenable = [](const QString &file) {
        return Layout([file](TestInstallation &inst) {
            return inst.create(QStringLiteral("."), {file}) && QDir(inst.path()).mkdir(file);
        });
    };
    const QStringList here = {"./profile.db", "./data.db", "./qc.db", "./syslog.db"};
    const QStringList release = {"release/profile.db", "release/data.db", "release/qc.db",
                                 "release/syslog.db"};
    const QStringList none = {"", "", "", ""};
    const QStringList noKeys;
    const QStringList hospital = {"hospital"};
    const QStringList silent;

    QTest::newRow("found in .") << seeded(".") << silent << here << "1111" << hospital;
    QTest::newRow("found in release")
        << seeded("release") << silent << release << "1111" << hospital;
    const Layout both = [seeded](TestInstallation &inst) {
        return seeded(".")(inst) && inst.create("release");
    };
    QTest::newRow(". before release") << both << silent << here << "1111" << hospital;
    QTest::newRow("not found") << Layout([](TestInstallation &) { return true; })
                               << QStringList{literal("找不到配置文件 profile.db")} << none
                               << "0000" << noKeys;
    const Layout otherProfileName = [](TestInstallation &inst) {
        return inst.create() && inst.writeSettings({{"db/profile", "clinic.db"}});
    };
    QTest::newRow("configured name not found")
        << otherProfileName << QStringList{literal("找不到配置文件 clinic.db")} << none << "0000"
        << noKeys;
    const Layout renamedProfile = [](TestInstallation &inst) {
        return inst.create("release", {"profile.db"})
            && inst.createDatabase("release/clinic.db", "profile")
            && inst.writeSettings({{"db/profile", "clinic.db"}});
    };
    QStringList renamed = release;
    renamed[0] = "release/clinic.db";
    QTest::newRow("profile renamed") << renamedProfile << silent << renamed << "1111" << noKeys;
    QTest::newRow("profile unopenable")
        << unopenable("profile.db")
        << QStringList{literal("无法加载配置文件 ./profile.db\n") + ".+",
                       literal("错误的配置文件 ./profile.db")}
        << here << "0111" << noKeys;
    QTest::newRow("profile not a database")
        << without("profile.db", QByteArray(4096, 'x'))
        << QStringList{literal("错误的配置文件 ./profile.db")} << here << "1111" << noKeys;
    QTest::newRow("profile without tables")
        << without("profile.db", QByteArray())
        << QStringList{literal("错误的配置文件 ./profile.db")} << here << "1111" << noKeys;

    const QStringList others = {"data.db", "qc.db", "syslog.db"};
    for (int i = 0; i < others.size(); ++i) {
        const QString file = others.at(i);
        const QString wrong = literal("错误的数据库文件 ./" + file);
        // The driver creates a missing file, empty.
        const Layout missing = [file](TestInstallation &inst) {
            return inst.create(".", {file});
        };
        QTest::addRow("%s missing", qPrintable(file))
            << missing << QStringList{wrong} << here << "1111" << noKeys;
        QString closed = QStringLiteral("1111");
        closed[i + 1] = QLatin1Char('0');
        QTest::addRow("%s unopenable", qPrintable(file))
            << unopenable(file) << QStringList{literal("无法打开数据库文件 ./" + file), wrong}
            << here << closed << noKeys;
    }

    const Layout renamedData = [](TestInstallation &inst) {
        return inst.create(".", {"data.db"}) && inst.createDatabase("clinic.db", "data")
            && inst.writeSettings({{"db/data", "clinic.db"}});
    };
    QStringList data = here;
    data[1] = "./clinic.db";
    QTest::newRow("db/data renamed") << renamedData << silent << data << "1111" << noKeys;
    // settings.ini as a text editor saves it: UTF-8, here with a Chinese file name.
    const Layout chineseName = [](TestInstallation &inst) {
        return inst.create(".", {"data.db"}) && inst.createDatabase("化验数据.db", "data")
            && inst.writeFile("settings.ini", QStringLiteral("[db]\ndata=化验数据.db\n").toUtf8());
    };
    QStringList chinese = here;
    chinese[1] = "./化验数据.db";
    QTest::newRow("UTF-8 settings") << chineseName << silent << chinese << "1111" << noKeys;
    // As a Windows installer or Notepad on a Chinese system saves it: in GBK.
    const Layout gbkNames = [](TestInstallation &inst) {
        return inst.create(".", {"profile.db", "data.db"})
            && inst.createDatabase("配置.db", "profile") && inst.createDatabase("数据.db", "data")
            && inst.writeFile("settings.ini",
                              "[db]\nprofile=\xc5\xe4\xd6\xc3.db\n"
                              "data=\xca\xfd\xbe\xdd.db\n");
    };
    QTest::newRow("GBK settings") << gbkNames << silent
                                  << QStringList{"./配置.db", "./数据.db", "./qc.db", "./syslog.db"}
                                  << "1111" << noKeys;
    // A Windows path as typed: a back-slash is no escape ("\t" no tab).
    const Layout backslashes = [](TestInstallation &inst) {
        return inst.create(".", {"data.db"}) && inst.createDatabase("sub\\tclinic.db", "data")
            && inst.writeFile("settings.ini", "[db]\ndata=sub\\tclinic.db\n");
    };
    QStringList backslashed = here;
#ifdef Q_OS_WIN
    backslashed[1] = "./sub/tclinic.db";
#else
    backslashed[1] = "./sub\\tclinic.db";
#endif
    QTest::newRow("back-slashes") << backslashes << silent << backslashed << "1111" << noKeys;
    // Notepad's "Unicode": UTF-16, little-endian, with its mark and CR LF.
    const Layout utf16Names = [](TestInstallation &inst) {
        QByteArray text("\xff\xfe", 2);
        for (const QChar c : QStringLiteral("[db]\r\ndata=数据.db\r\n"))
            text.append(char(c.cell())).append(char(c.row()));
        return inst.create(".", {"data.db"}) && inst.createDatabase("数据.db", "data")
            && inst.writeFile("settings.ini", text);
    };
    QTest::newRow("UTF-16 settings") << utf16Names << silent
                                     << QStringList{"./profile.db", "./数据.db", "./qc.db",
                                                    "./syslog.db"}
                                     << "1111" << noKeys;
    // Another program holds data.db past the busy time-out (30 s): it is
    // locked, not damaged.
    const auto holder = std::make_shared<std::unique_ptr<LockHolder>>();
    const Layout lockedData = [holder](TestInstallation &inst) {
        holder->reset(new LockHolder(inst.filePath("data.db"), LockHolder::Exclusive, 45));
        return (*holder)->held();
    };
    QTest::newRow("data.db locked") << Layout([seeded, lockedData](TestInstallation &inst) {
        return seeded(".")(inst) && lockedData(inst);
    }) << QStringList{literal("数据库文件 ./data.db 被其他程序锁定")}
                                    << here << "1111" << hospital;
    const Layout sharedFile = [](TestInstallation &inst) {
        return inst.create() && inst.writeSettings({{"db/syslog", "data.db"}});
    };
    QTest::newRow("two databases, one file")
        << sharedFile << QStringList{literal("settings.ini 为两个数据库指定了同一个文件 ./data.db")}
        << none << "0000" << noKeys;
    const Layout absoluteData = [](TestInstallation &inst) {
        return inst.create(".", {"data.db"}) && inst.createDatabase("elsewhere/clinic.db", "data")
            && inst.writeSettings({{"db/data", inst.filePath("elsewhere/clinic.db")}});
    };
    data[1] = "@/elsewhere/clinic.db"; // "@": the installation's path
    QTest::newRow("db/data absolute") << absoluteData << silent << data << "1111" << noKeys;
}

static void checkConnections(const QJsonObject &report, const QStringList &paths,
                             const QString &open)
{
    const char *accessors[] = {"profile", "data", "qc", "syslog"};
    QStringList registered;
    for (int i = 0; i < 4; ++i) {
        const QJsonObject connection = report.value(QLatin1String(accessors[i])).toObject();
        const bool valid = !paths.at(i).isEmpty();
        QCOMPARE(connection.value(QLatin1String("valid")).toBool(), valid);
        QCOMPARE(connection.value(QLatin1String("path")).toString(), paths.at(i));
        QCOMPARE(connection.value(QLatin1String("open")).toBool(), open.at(i) == QLatin1Char('1'));
        if (valid)
            registered << QLatin1String(accessors[i]) + QLatin1String(".db");
    }
    registered.sort();
    QCOMPARE(report.value(QLatin1String("registered")).toVariant().toStringList(), registered);
}

void tst_ProfileStartup::startup()
{
    QFETCH(Layout, layout);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, paths);
    QFETCH(QString, open);
    QFETCH(QStringList, keys);

    TestInstallation inst;
    QVERIFY(layout(inst));
    paths.replaceInStrings(QStringLiteral("@"), inst.path());
    for (QString &path : paths) {
        if (!path.isEmpty())
            path = QDir::cleanPath(QDir(inst.path()).absoluteFilePath(path));
    }

    const QJsonObject report = run(inst.path(), QCoreApplication::applicationFilePath());
    QVERIFY(!report.isEmpty());

    const QStringList shown = report.value(QLatin1String("messages")).toVariant().toStringList();
    QCOMPARE(shown.size(), messages.size());
    for (int i = 0; i < shown.size(); ++i) {
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(messages.at(i)),
                                         QRegularExpression::DotMatchesEverythingOption);
        QVERIFY2(pattern.match(shown.at(i)).hasMatch(), qPrintable(shown.at(i)));
    }
    QVERIFY(report.value(QLatin1String("plainWarnings")).toBool());
    checkConnections(report, paths, open);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(report.value(QLatin1String("dataConnection")).toString(),
             paths.at(1).isEmpty() ? QString() : QStringLiteral("data.db"));
    QCOMPARE(report.value(QLatin1String("keys")).toVariant().toStringList(), keys);
    QCOMPARE(QFileInfo(report.value(QLatin1String("workdir")).toString()).canonicalFilePath(),
             QFileInfo(inst.path()).canonicalFilePath());
    QVERIFY(report.value(QLatin1String("sameInstance")).toBool());
}

void tst_ProfileStartup::initTestCase()
{
    QVERIFY(Installation::layOut(m_seeded.path()));
    QVERIFY(m_seeded.execSql(
        QStringLiteral("profile.db"),
        QStringLiteral(
            "with recursive n(i) as (select 1 union all select i + 1 from n where i < ?) "
            "insert into profile select printf('k%03d', i), case i % 3 when 0 then i "
            "else printf('value %d %.*c', i, i % 200, 'x') end from n"),
        {seededSettings}));
    QVERIFY(m_seeded.execSql(
        QStringLiteral("data.db"),
        QStringLiteral(
            "with recursive n(i) as (select 1 union all select i + 1 from n where i < ?) "
            "insert into patient (id, sampleNo, date) select i, i, ? from n"),
        {seededCurves, seededDay.toString(Qt::ISODate)}));
    for (int id = 1; id <= seededCurves; ++id) {
        QVERIFY(m_seeded.execSql(QStringLiteral("data.db"),
                                 QStringLiteral("insert into curve values(?, 'PT', 1, ?)"),
                                 {id, seededCurve(id).toBuffer()}));
    }
}

void tst_ProfileStartup::executableDirectory()
{
    // The profile database lies only beside (a copy of) the executable, and in
    // "release", which comes later in the search.
    TestInstallation home, bin;
    QVERIFY(home.create(QStringLiteral("release")));
    QVERIFY(bin.create());
    QVERIFY(bin.execSql(QStringLiteral("profile.db"),
                        QStringLiteral("insert into profile values('hospital', 'beside')")));
    const QString program = bin.filePath(QStringLiteral("tst_profilestartup"));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));

    const QJsonObject report = run(home.path(), program);
    QVERIFY(!report.isEmpty());
    QCOMPARE(report.value(QLatin1String("messages")).toArray().size(), 0);
    const QString binDir = QFileInfo(bin.path()).canonicalFilePath();
    QStringList paths;
    for (const QString &file : TestInstallation::databaseFiles())
        paths << binDir + QLatin1Char('/') + file;
    checkConnections(report, paths, QStringLiteral("1111"));
    QCOMPARE(report.value(QLatin1String("keys")).toVariant().toStringList(),
             QStringList{QStringLiteral("hospital")});
    QCOMPARE(QFileInfo(report.value(QLatin1String("workdir")).toString()).canonicalFilePath(),
             QFileInfo(home.path()).canonicalFilePath());
}

// One damage to one file of a site, made from a seed, so that a failing
// case comes back with its seed.
static QPair<QString, Layout> damage(quint32 seed, const QString &seededDir)
{
    QRandomGenerator random(seed);
    static const char *const files[] = {"profile.db", "data.db", "settings.ini"};
    const QString file = QLatin1String(files[random.bounded(3)]);
    QFile original(QDir(seededDir).filePath(file));
    original.open(QIODevice::ReadOnly);
    QByteArray content = original.readAll();
    QString what;
    bool directory = false;
    const bool settings = file == QLatin1String("settings.ini");
    switch (random.bounded(settings ? 8 : 7)) {
    case 0:
    case 1: {
        // One time in two within the first page: the header and the schema.
        const int count = 1 + random.bounded(8);
        const int range = random.bounded(2) ? qMin(4096, content.size()) : content.size();
        QStringList offsets;
        for (int i = 0; i < count; ++i) {
            const int offset = random.bounded(range);
            content[offset] = char(content.at(offset) ^ (1 + random.bounded(255)));
            offsets << QString::number(offset);
        }
        what = QStringLiteral("bytes flipped at ") + offsets.join(QLatin1Char(','));
        break;
    }
    case 2: {
        // A block past the first lost, as a disk loses one: in a database
        // a page that is read only when a query gets to it.
        const int blocks = (content.size() + 4095) / 4096;
        const int block = blocks > 1 ? 1 + random.bounded(blocks - 1) : 0;
        const bool zeroes = random.bounded(2);
        for (int i = block * 4096; i < (block + 1) * 4096 && i < content.size(); ++i)
            content[i] = zeroes ? '\0' : char(random.bounded(256));
        what = QStringLiteral("block %1 of %2 %3")
                   .arg(block + 1)
                   .arg(blocks)
                   .arg(zeroes ? QStringLiteral("zeroed") : QStringLiteral("random"));
        break;
    }
    case 3:
        content.truncate(random.bounded(content.size()));
        what = QStringLiteral("truncated to %1 bytes").arg(content.size());
        break;
    case 4:
        content.clear();
        what = QStringLiteral("empty");
        break;
    case 5:
        directory = true;
        what = QStringLiteral("a directory");
        break;
    case 6:
        content.resize(random.bounded(1, 20000));
        for (char &byte : content)
            byte = char(random.bounded(256));
        what = QStringLiteral("%1 random bytes").arg(content.size());
        break;
    default: {
        // As a Chinese Windows saves it, with a name changed at random.
        QString text =
            QStringLiteral("; 凝血分析仪的设置\n[db]\nprofile=profile.db\ndata=data.db\n");
        if (random.bounded(2))
            text[random.bounded(text.size())] = QChar(0x4e00 + random.bounded(0x5000));
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        content = QStringEncoder("GB18030").encode(text);
#else
        content = QTextCodec::codecForName("GB18030")->fromUnicode(text);
#endif
        what = QStringLiteral("GB18030: ")
            + QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '));
        break;
    }
    }
    const Layout layout = [seededDir, file, content, directory](TestInstallation &inst) {
        const QDir from(seededDir);
        for (const QString &name : from.entryList(QDir::Files)) {
            if (name != file && !QFile::copy(from.filePath(name), inst.filePath(name)))
                return false;
        }
        return directory ? QDir(inst.path()).mkdir(file) : inst.writeFile(file, content);
    };
    return {QStringLiteral("seed %1: %2 %3").arg(seed).arg(file, what), layout};
}

void tst_ProfileStartup::damagedSite_data()
{
    QTest::addColumn<Layout>("layout");
    // COAGULATION_DAMAGED_SITES=N runs the seeds 1 to N.
    const quint32 sites = qEnvironmentVariableIsSet("COAGULATION_DAMAGED_SITES")
        ? quint32(qEnvironmentVariableIntValue("COAGULATION_DAMAGED_SITES"))
        : 36;
    for (quint32 seed = 1; seed <= sites; ++seed) {
        const QPair<QString, Layout> damaged = damage(seed, m_seeded.path());
        QTest::newRow(qPrintable(damaged.first)) << damaged.second;
    }
}

// What SQLite itself reads from a file, through a connection of the test's
// own: the answers that the store passes on or reports it cannot give.
class Reader
{
public:
    explicit Reader(const QString &file)
        : m_name(QStringLiteral("reader ") + file)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        db.open();
    }
    ~Reader() { QSqlDatabase::removeDatabase(m_name); }

    // The rows of a select, none when it fails.
    std::optional<QList<QVariantList>> rows(const QString &sql,
                                            const QVariantList &bindValues = QVariantList())
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        QList<QVariantList> rows;
        if (!query.prepare(sql))
            return std::nullopt;
        for (const QVariant &value : bindValues)
            query.addBindValue(value);
        if (!query.exec())
            return std::nullopt;
        while (query.next()) {
            QVariantList row;
            for (int column = 0; column < query.record().count(); ++column)
                row << query.value(column);
            rows << row;
        }
        if (query.lastError().isValid())
            return std::nullopt;
        return rows;
    }

    // Whether start-up can tell the file for a database: one with tables.
    bool hasTables()
    {
        const auto count =
            rows(QStringLiteral("select count(*) from sqlite_master where type = 'table'"));
        return count && count->first().first().toInt() > 0;
    }

private:
    QString m_name;
};

// Never a crash or a hang; every problem start-up can see in a box that
// names the file; afterwards either what SQLite reads from the file, or a
// warning line that says why not.
void tst_ProfileStartup::damagedSite()
{
    QFETCH(Layout, layout);
    TestInstallation inst;
    QVERIFY(layout(inst));

    // What the files hold, read before the child writes to them.
    Reader profileFile(inst.filePath(QStringLiteral("profile.db")));
    Reader dataFile(inst.filePath(QStringLiteral("data.db")));
    const bool profileTables = profileFile.hasTables();
    const bool dataTables = dataFile.hasTables();
    const auto settings = profileFile.rows(QStringLiteral("select name, value from profile"));
    QJsonArray curves;
    QList<int> unreadableCurves;
    for (int id = 1; id <= seededCurves; ++id) {
        const auto row = dataFile.rows(
            QStringLiteral("select curve from curve where patientId = ? and item = 'PT' and "
                           "version = 1 order by rowid desc limit 1"),
            {id});
        bool whole = false;
        const ClotCurve curve = row && !row->isEmpty()
            ? ClotCurve::fromBuffer(row->first().first().toByteArray(), &whole)
            : ClotCurve();
        curves << fingerprint(curve, whole);
        if (!row)
            unreadableCurves << id;
    }
    const auto largest = dataFile.rows(
        QStringLiteral("select max(cast(sampleNo as integer)) from patient where date = ?"),
        {seededDay});
    QSettings settingsFile(inst.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    settingsFile.value(QStringLiteral("db/profile"));
    const bool settingsRead = settingsFile.status() == QSettings::NoError;

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(childVariable), QStringLiteral("damaged"));
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(inst.path());
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    const bool finished = child.waitForFinished(60000);
    if (!finished) {
        child.kill();
        child.waitForFinished();
    }
    const QByteArray errors = child.readAllStandardError();
    QVERIFY2(finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             errors.constData());
    const QJsonObject report = QJsonDocument::fromJson(child.readAllStandardOutput()).object();
    QVERIFY2(!report.isEmpty(), errors.constData());
    QVERIFY(report.value(QLatin1String("plainWarnings")).toBool());

    const QString messages =
        report.value(QLatin1String("messages")).toVariant().toStringList().join(QLatin1Char('\n'));
    const QString warnings =
        report.value(QLatin1String("warnings")).toVariant().toStringList().join(QLatin1Char('\n'));
    const QString said = messages + QLatin1Char('\n') + warnings;
    if (!profileTables)
        QVERIFY2(messages.contains(QLatin1String("./profile.db")), qPrintable(said));
    if (!dataTables)
        QVERIFY2(messages.contains(QLatin1String("./data.db")), qPrintable(said));
    if (!settingsRead) {
        QVERIFY2(said.contains(QLatin1String("settings.ini")), qPrintable(said));
    }
    QStringList standard;
    for (const QString &file : TestInstallation::databaseFiles())
        standard << QDir::cleanPath(QDir(inst.path()).absoluteFilePath(file));
    if (report.value(QLatin1String("databases")).toVariant().toStringList() != standard) {
        // settings.ini names other files: what they hold is no matter here.
        QVERIFY2(!messages.isEmpty(), qPrintable(said));
        return;
    }

    // The settings as the file holds them, or a word that they could not be read.
    if (settings) {
        QJsonObject values;
        for (const QVariantList &row : *settings)
            values.insert(row.at(0).toString(), row.at(1).toString());
        QCOMPARE(report.value(QLatin1String("values")).toObject(), values);
    } else if (profileTables) {
        // Start-up reads the table whole; a read that fails there leaves
        // the settings loaded in part or not at all, and says so.
        QVERIFY2(said.contains(QLatin1String("profile.db")), qPrintable(said));
    }
    // Each curve as the file holds it; one that could not be read comes with a warning.
    const QJsonArray loaded = report.value(QLatin1String("curves")).toArray();
    for (int i = 0; i < seededCurves; ++i) {
        if (unreadableCurves.contains(i + 1))
            QVERIFY2(loaded.at(i).isNull() && !warnings.isEmpty(), qPrintable(said));
        else
            QVERIFY2(loaded.at(i) == curves.at(i),
                     qPrintable(QStringLiteral("curve %1").arg(i + 1)));
    }
    // The next number above every number the file holds, or none and a warning.
    const int sampleNo = report.value(QLatin1String("sampleNo")).toInt();
    if (largest)
        QCOMPARE(sampleNo, largest->first().first().toInt() + 1);
    else
        QVERIFY2(sampleNo == -1 && !warnings.isEmpty(), qPrintable(said));
    if (!report.value(QLatin1String("written")).toBool())
        QVERIFY2(!warnings.isEmpty(), qPrintable(said));
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariable(childVariable) == QLatin1String("damaged"))
        return runDamagedChild();
    if (qEnvironmentVariableIsSet(childVariable))
        return runChild();
    tst_ProfileStartup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_profilestartup.moc"
