// Start-up of the store singleton. Each case lays out an installation and runs
// this executable again inside it (PROFILE_STARTUP_CHILD set): the child calls
// Profile::instance() once, answers the message boxes and prints what it found
// as JSON, so that no singleton or registered connection outlives a case.

#include "childprocess.h"
#include "messageboxanswerer.h"
#include "profile.h"
#include "testinstallation.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtSql/QSqlDatabase>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>

#include <cstdio>

static const char childVariable[] = "PROFILE_STARTUP_CHILD";

static QJsonObject describe(const QSqlDatabase &db)
{
    return {{QStringLiteral("valid"), db.isValid()},
            {QStringLiteral("open"), db.isOpen()},
            {QStringLiteral("path"), db.databaseName()}};
}

static int runChild()
{
    MessageBoxAnswerer answerer;
    Profile &profile = Profile::instance();
    // Runs after main() has returned, when the runtime destroys the singleton.
    QObject::connect(&profile, &QObject::destroyed, [] { std::fputs("destroyed\n", stdout); });

    QJsonArray messages;
    bool plainWarnings = true;
    for (const MessageBoxAnswerer::Seen &seen : answerer.seen) {
        messages << seen.text;
        plainWarnings =
            plainWarnings && seen.icon == QMessageBox::Warning && seen.buttons == QMessageBox::Ok;
    }
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

class tst_ProfileStartup : public QObject
{
    Q_OBJECT

private slots:
    void startup_data();
    void startup();
    void executableDirectory();

private:
    QJsonObject run(const QString &workingDirectory, const QString &program);
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
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    if (lines.size() != 3 || lines.at(1) != "destroyed") {
        qWarning("unexpected output from child");
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

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(childVariable))
        return runChild();
    tst_ProfileStartup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_profilestartup.moc"
