// A process of the application killed (SIGKILL, TerminateProcess on Windows) at random moments
// while its user-interface thread and an instrument thread number samples, store curves and change
// settings. After each kill the site must start without a box, pass SQLite's integrity check and
// still hold every write the killed process was told had succeeded. The process runs this
// executable again (CRASHES_CHILD names its part); COAGULATION_KILLS sets the number of kills (20
// by default), COAGULATION_CRASH_SEED repeats the moments of a run.
#include "analysisresult.h"
#include "childprocess.h"
#include "krglobal.h"
#include "messageboxanswerer.h"
#include "profile.h"
#include "testinstallation.h"

#include <QtCore/QDeadlineTimer>
#include <QtCore/QRandomGenerator>
#include <QtCore/QRegularExpression>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <QtCore/QProcess>
#include <QtCore/qt_windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#endif

static const char childVariable[] = "CRASHES_CHILD";
static const char generationVariable[] = "CRASHES_GENERATION";

// Each change sets the key <thread><serial % keyCount> to its serial, and
// the serials of a process start at generation * generationSpan: a key's
// value tells which change wrote it, and a later change always wrote more.
constexpr int keyCount = 8;
constexpr qint64 generationSpan = 1000000;
// The kill comes within this much of the start; the start-up takes a part.
constexpr int longestRunMs = 800;

struct Thread
{
    const char *name;
    QDate date; // each numbers its own day: the numbering of one day is not shared
    const char *item;
};
static const Thread threads[] = {{"gui", QDate(2026, 12, 7), "PT"},
                                 {"worker", QDate(2026, 12, 8), "APTT"}};

static const Thread *threadNamed(const QString &name)
{
    for (const Thread &thread : threads) {
        if (name == QLatin1String(thread.name))
            return &thread;
    }
    return nullptr;
}

// The curve of a sample, rebuilt by the checker from the keys alone. Some
// are longer than a page, so that their rows span overflow pages.
static ClotCurve curveFor(int patientId, const QString &item)
{
    QVector<double> values(20 + (patientId * 7919) % 600);
    for (int i = 0; i < values.size(); ++i)
        values[i] = patientId + i * 0.25 + item.size();
    ClotCurve curve;
    curve.append(0.0, 0.1, values);
    return curve;
}

static std::mutex printMutex;

// One line to the parent, out of the process before the next step begins.
static void report(const QString &line)
{
    const std::lock_guard<std::mutex> locker(printMutex);
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// The child that is killed

// One thread's work, one step at a time: a sample numbered and inserted, its
// curve stored, a setting changed, and every other step sync().
class Stream
{
public:
    Stream(const Thread &thread, qint64 generation)
        : m_thread(thread)
        , m_serial(generation * generationSpan)
    { }

    void step()
    {
        Profile &store = Profile::instance();
        const QString name = QLatin1String(m_thread.name);
        bool ok = false;
        const int sampleNo = nextSampleNo(m_thread.date, &ok);
        QSqlQuery insert(store.dataDatabase());
        if (ok) {
            insert.prepare(
                QStringLiteral("insert into patient (sampleNo, date, name) values(?, ?, ?)"));
            insert.addBindValue(QString::number(sampleNo));
            insert.addBindValue(m_thread.date.toString(Qt::ISODate));
            insert.addBindValue(QStringLiteral("%1 %2").arg(name).arg(sampleNo));
        }
        if (ok && insert.exec()) {
            const int id = insert.lastInsertId().toInt();
            report(QStringLiteral("sample %1 %2 %3").arg(name).arg(id).arg(sampleNo));
            const QString item = QLatin1String(m_thread.item);
            if (curveFor(id, item).store(id, item, 1))
                report(QStringLiteral("curve %1 %2").arg(name).arg(id));
            else
                report(QStringLiteral("failed curve ") + item);
        } else {
            report(QStringLiteral("failed sample ")
                   + (ok ? insert.lastError().text() : QStringLiteral("number")));
        }
        ++m_serial;
        store.setValue(name + QString::number(m_serial % keyCount), m_serial);
        if (m_serial % 2 == 0) {
            if (store.sync(5000))
                report(QStringLiteral("synced %1 %2").arg(name).arg(m_serial));
            else
                report(QStringLiteral("failed sync ") + name);
        }
    }

private:
    const Thread &m_thread;
    qint64 m_serial;
};

static int work(int argc, char **argv)
{
    QApplication app(argc, argv);
    MessageBoxAnswerer answerer;
    const qint64 generation = qEnvironmentVariableIntValue(generationVariable);
    Profile::instance();
    report(QStringLiteral("started boxes=%1").arg(answerer.seen.size()));

    std::atomic<bool> stop{false};
    Stream gui(threads[0], generation), instrument(threads[1], generation);
    std::thread worker([&] {
        while (!stop)
            instrument.step();
    });
    QTimer steps;
    QObject::connect(&steps, &QTimer::timeout, [&gui] { gui.step(); });
    steps.start(0);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&stop] { stop = true; });
    // It is killed long before; the limit only ends a child its parent lost.
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    const int status = QCoreApplication::exec();
    worker.join();
    return status;
}

// ---------------------------------------------------------------------------
// The child that starts on the site after a kill

static void print(const QString &line)
{
    std::puts(qPrintable(line));
}

static int check(int argc, char **argv)
{
    QApplication app(argc, argv);
    MessageBoxAnswerer answerer;
    WarningCapture warnings;
    Profile &store = Profile::instance();
    print(QStringLiteral("boxes %1").arg(answerer.seen.size()));
    const QSqlDatabase databases[] = {store.database(), store.dataDatabase(), store.qcDatabase(),
                                      store.syslogDatabase()};
    for (const QSqlDatabase &db : databases) {
        QSqlQuery query(db);
        QStringList result;
        if (query.exec(QStringLiteral("pragma integrity_check"))) {
            while (query.next())
                result << query.value(0).toString();
        } else {
            result << query.lastError().text();
        }
        print(QStringLiteral("integrity %1 %2")
                  .arg(QFileInfo(db.databaseName()).fileName(), result.join(QLatin1Char(' '))));
    }
    for (const QString &key : store.keys())
        print(QStringLiteral("value %1 %2").arg(key, store.value(key).toString()));
    for (const Thread &thread : threads) {
        bool ok = false;
        const int number = nextSampleNo(thread.date, &ok);
        print(QStringLiteral("next %1 %2").arg(QLatin1String(thread.name)).arg(ok ? number : -1));
    }
    for (const QString &line : warnings.lines())
        print(QStringLiteral("warning ")
              + QString(line).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    return 0;
}

// ---------------------------------------------------------------------------
// The parent

#ifdef Q_OS_WIN

// A child ended by TerminateProcess(), the kill a crash or a power cut comes
// closest to, with an exit code of its own.
constexpr DWORD killedExitCode = 137;

static bool endedByKill(int status)
{
    return status == int(killedExitCode);
}

class Child
{
public:
    Child(int generation, const QString &errorsFile)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(childVariable), QStringLiteral("work"));
        environment.insert(QLatin1String(generationVariable), QString::number(generation));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(environment);
        m_process.setStandardErrorFile(errorsFile);
        startWithoutConsole(m_process);
        m_process.start(QCoreApplication::applicationFilePath(), QStringList());
        m_started = m_process.waitForStarted(30000);
    }

    ~Child()
    {
        if (m_process.state() != QProcess::NotRunning) {
            kill();
            m_process.waitForFinished(10000);
        }
    }

    bool started() const { return m_started; }
    QString startError() const { return m_process.errorString(); }

    // Reads the report until the deadline; false once the child closed it.
    bool read(QDeadlineTimer deadline)
    {
        for (;;) {
            m_report += m_process.readAllStandardOutput();
            if (m_process.state() == QProcess::NotRunning)
                return false;
            if (deadline.hasExpired())
                return true;
            m_process.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)));
        }
    }

    // The exit code, or -1 when the child did not end by the deadline.
    int waitForEnd(QDeadlineTimer deadline)
    {
        if (m_process.state() != QProcess::NotRunning
            && !m_process.waitForFinished(int(qMax<qint64>(deadline.remainingTime(), 1))))
            return -1;
        return m_process.exitCode();
    }

    void kill()
    {
        if (const HANDLE process =
                OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(m_process.processId()))) {
            TerminateProcess(process, killedExitCode);
            CloseHandle(process);
        }
    }
    QStringList lines() const
    {
        // A line cut off by the kill is no report.
        const int end = m_report.lastIndexOf('\n') + 1;
        return QString::fromUtf8(m_report.left(end))
            .remove(QLatin1Char('\r'))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QProcess m_process;
    bool m_started = false;
    QByteArray m_report;
};

#else

static bool endedByKill(int status)
{
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// A child started with posix_spawn(): its pid is needed for the kill, and
// unlike Qt 6's QProcess it leaves ThreadSanitizer able to follow.
class Child
{
public:
    Child(int generation, const QString &errorsFile)
    {
        QByteArrayList variables;
        for (char **variable = environ; *variable; ++variable)
            variables << QByteArray(*variable);
        variables << QByteArray(childVariable) + "=work"
                  << QByteArray(generationVariable) + '=' + QByteArray::number(generation)
                  << QByteArray("QT_QPA_PLATFORM=offscreen");
        std::vector<char *> environment;
        for (QByteArray &variable : variables)
            environment.push_back(variable.data());
        environment.push_back(nullptr);
        QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
        char *arguments[] = {program.data(), nullptr};

        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0) {
            m_spawnError = errno;
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
        const QByteArray errors = QFile::encodeName(errorsFile);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.constData(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        m_spawnError = posix_spawn(&m_pid, program.constData(), &actions, nullptr, arguments,
                                   environment.data());
        if (m_spawnError != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[1]);
        m_output = pipe[0];
    }

    ~Child()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            waitForEnd(QDeadlineTimer(10000));
        }
        if (m_output >= 0)
            ::close(m_output);
    }

    bool started() const { return m_pid > 0; }
    QString startError() const { return QString::fromLocal8Bit(std::strerror(m_spawnError)); }

    // Reads the report until the deadline; false once the child closed it.
    bool read(QDeadlineTimer deadline)
    {
        for (;;) {
            pollfd output = {m_output, POLLIN, 0};
            const int ready = ::poll(&output, 1, int(deadline.remainingTime()));
            if (ready == 0)
                return true;
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            char buffer[4096];
            const ssize_t size = ::read(m_output, buffer, sizeof buffer);
            if (size <= 0)
                return false;
            m_report.append(buffer, int(size));
        }
    }

    // The wait status, or -1 when the child did not end by the deadline.
    int waitForEnd(QDeadlineTimer deadline)
    {
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (deadline.hasExpired())
                return -1;
            QThread::msleep(5);
        }
        m_pid = -1;
        return status;
    }

    void kill() { ::kill(m_pid, SIGKILL); }
    QStringList lines() const
    {
        // A line cut off by the kill is no report.
        const int end = m_report.lastIndexOf('\n') + 1;
        return QString::fromUtf8(m_report.left(end)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    pid_t m_pid = -1;
    int m_spawnError = 0;
    int m_output = -1;
    QByteArray m_report;
};

#endif

class tst_Crashes : public QObject
{
    Q_OBJECT

private slots:
    void killedAtAnyPoint();

private:
    void take(const QStringList &report, int generation);
    void checkSite(int generation);

    std::unique_ptr<TestInstallation> m_inst;
    // What the killed processes were told had succeeded.
    QHash<QString, qint64> m_floor; // key -> the least value it may hold now
    QHash<int, QPair<QString, int>> m_samples; // row id -> thread, sample number
    QSet<QPair<QString, int>> m_curves; // thread, patient id
    qint64 m_settings = 0; // changes covered by a successful sync()
    QMap<QString, int> m_failures; // failed steps, none of them acknowledged
    int m_filesChecked = 0;
    QSet<QString> m_lost;
};

void tst_Crashes::take(const QStringList &report, int generation)
{
    QHash<QString, qint64> synced;
    for (const QString &line : report) {
        const QStringList fields = line.split(QLatin1Char(' '));
        const QString &kind = fields.first();
        if (kind == QLatin1String("started")) {
            QCOMPARE(line, QStringLiteral("started boxes=0"));
        } else if (kind == QLatin1String("sample")) {
            m_samples.insert(fields.at(2).toInt(), {fields.at(1), fields.at(3).toInt()});
        } else if (kind == QLatin1String("curve")) {
            m_curves.insert({fields.at(1), fields.at(2).toInt()});
        } else if (kind == QLatin1String("synced")) {
            synced[fields.at(1)] = fields.at(2).toLongLong();
        } else if (kind == QLatin1String("failed")) {
            ++m_failures[line];
        } else {
            QFAIL(qPrintable(line));
        }
    }
    // A sync up to serial S acknowledges every change of that thread up to S
    // in this generation: for each key, the last of them it received.
    const qint64 first = generation * generationSpan + 1;
    for (auto it = synced.cbegin(); it != synced.cend(); ++it) {
        m_settings += it.value() - first + 1;
        for (qint64 serial = qMax(first, it.value() - keyCount + 1); serial <= it.value();
             ++serial) {
            qint64 &floor = m_floor[it.key() + QString::number(serial % keyCount)];
            floor = qMax(floor, serial);
        }
    }
}

void tst_Crashes::checkSite(int generation)
{
    const ChildOutcome checked =
        runChild(QCoreApplication::applicationFilePath(), QStringList(), m_inst->path(),
                 {{QLatin1String(childVariable), QStringLiteral("check")}});
    QVERIFY2(checked.exitCode == 0, checked.errors.constData());
    const QStringList lines =
        QString::fromUtf8(checked.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QHash<QString, QString> values, next;
    for (const QString &line : lines) {
        const QString kind = line.section(QLatin1Char(' '), 0, 0);
        const QString name = line.section(QLatin1Char(' '), 1, 1);
        const QString rest = line.section(QLatin1Char(' '), 2);
        if (kind == QLatin1String("boxes")) {
            QCOMPARE(name, QStringLiteral("0"));
        } else if (kind == QLatin1String("integrity")) {
            QVERIFY2(rest == QLatin1String("ok"), qPrintable(line));
            ++m_filesChecked;
        } else if (kind == QLatin1String("value")) {
            values.insert(name, rest);
        } else if (kind == QLatin1String("next")) {
            next.insert(name, rest);
        } else {
            QFAIL(qPrintable(line)); // a warning, or something else unexpected
        }
    }

    // Every setting is one a change wrote whole, and no older than the
    // last one acknowledged.
    static const QRegularExpression keyPattern(QStringLiteral("^(gui|worker)(\\d)$"));
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QRegularExpressionMatch key = keyPattern.match(it.key());
        bool number = false;
        const qint64 value = it.value().toLongLong(&number);
        QVERIFY2(key.hasMatch() && number && value % keyCount == key.captured(2).toInt()
                     && value <= (generation + 1) * generationSpan,
                 qPrintable(it.key() + QLatin1Char('=') + it.value()));
    }
    for (auto it = m_floor.cbegin(); it != m_floor.cend(); ++it) {
        if (values.value(it.key()).toLongLong() < it.value())
            m_lost.insert(QStringLiteral("setting %1=%2").arg(it.key()).arg(it.value()));
    }

    // Every sample row whole, each number of a day given once, and the next
    // number above all of them.
    QHash<int, QPair<QString, int>> samples;
    QHash<QString, int> largest;
    for (const QVariantList &row : m_inst->query(
             QStringLiteral("data.db"),
             QStringLiteral("select id, sampleNo, date, name from patient order by id"))) {
        const int id = row.at(0).toInt();
        const QString thread = row.at(3).toString().section(QLatin1Char(' '), 0, 0);
        const int sampleNo = row.at(1).toInt();
        const Thread *of = threadNamed(thread);
        QVERIFY2(of && row.at(3).toString() == thread + QLatin1Char(' ') + row.at(1).toString()
                     && row.at(2).toString() == of->date.toString(Qt::ISODate),
                 qPrintable(QStringLiteral("patient %1").arg(id)));
        QVERIFY2(sampleNo > largest.value(thread),
                 qPrintable(QStringLiteral("patient %1").arg(id)));
        largest[thread] = sampleNo;
        samples.insert(id, {thread, sampleNo});
    }
    for (const Thread &thread : threads)
        QCOMPARE(next.value(QLatin1String(thread.name)).toInt(),
                 largest.value(QLatin1String(thread.name)) + 1);
    for (auto it = m_samples.cbegin(); it != m_samples.cend(); ++it) {
        if (samples.value(it.key()) != it.value())
            m_lost.insert(QStringLiteral("sample %1").arg(it.key()));
    }

    // Every curve row is the curve of its sample, byte for byte.
    QSet<QPair<QString, int>> curves;
    for (const QVariantList &row :
         m_inst->query(QStringLiteral("data.db"),
                       QStringLiteral("select patientId, item, version, curve from curve"))) {
        const int id = row.at(0).toInt();
        const QString thread = samples.value(id).first;
        const Thread *of = threadNamed(thread);
        QVERIFY2(of && row.at(1).toString() == QLatin1String(of->item) && row.at(2).toInt() == 1
                     && row.at(3).toByteArray() == curveFor(id, row.at(1).toString()).toBuffer(),
                 qPrintable(QStringLiteral("curve of patient %1").arg(id)));
        QVERIFY2(!curves.contains({thread, id}),
                 qPrintable(QStringLiteral("curve of patient %1 twice").arg(id)));
        curves.insert({thread, id});
    }
    for (const auto &curve : qAsConst(m_curves)) {
        if (!curves.contains(curve))
            m_lost.insert(QStringLiteral("curve %1 %2").arg(curve.first).arg(curve.second));
    }
}

void tst_Crashes::killedAtAnyPoint()
{
    const int kills = qEnvironmentVariableIsSet("COAGULATION_KILLS")
        ? qEnvironmentVariableIntValue("COAGULATION_KILLS")
        : 20;
    const quint32 seed = qEnvironmentVariableIsSet("COAGULATION_CRASH_SEED")
        ? quint32(qEnvironmentVariable("COAGULATION_CRASH_SEED").toUInt())
        : QRandomGenerator::system()->generate();
    qInfo("seed %u (COAGULATION_CRASH_SEED=%u repeats the moments of this run)", seed, seed);
    QRandomGenerator random(seed);

    m_inst.reset(new TestInstallation);
    QVERIFY(m_inst->create());
    m_inst->enter();
    QTemporaryDir logs;
    // A file of each child's own: a killed child's handle may outlive it a
    // moment (under Wine, held by the server), and the next one must start.
    QString errors;
    const auto childErrors = [&errors] {
        QFile file(errors);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    };
    int killed = 0;
    int midTransaction = 0; // kills that left a journal to roll back
    for (int generation = 1; generation <= kills; ++generation) {
        const int delay = int(random.bounded(longestRunMs));
        QStringList report;
        errors = logs.filePath(QStringLiteral("child-errors-%1.txt").arg(generation));
        {
            Child child(generation, errors);
            QVERIFY2(child.started(), qPrintable(child.startError()));
            const bool running = child.read(QDeadlineTimer(delay));
            child.kill();
            QVERIFY2(running, childErrors().constData()); // it ended by itself
            QVERIFY(!child.read(QDeadlineTimer(10000)));
            const int status = child.waitForEnd(QDeadlineTimer(10000));
            QVERIFY2(endedByKill(status), qPrintable(QStringLiteral("status %1").arg(status)));
            ++killed;
            report = child.lines();
        }
        const QFileInfoList journals =
            QDir(m_inst->path()).entryInfoList({QStringLiteral("*-journal")}, QDir::Files);
        if (std::any_of(journals.cbegin(), journals.cend(),
                        [](const QFileInfo &journal) { return journal.size() > 0; }))
            ++midTransaction;
        take(report, generation);
        if (QTest::currentTestFailed())
            return;
        checkSite(generation);
        if (QTest::currentTestFailed())
            return;
    }
    const int samples = int(m_samples.size()), curves = int(m_curves.size());
    const int lost = int(m_lost.size());
    const int writes = int(m_settings) + samples + curves;
    qInfo("kills %d (%d in a transaction), files checked %d, acknowledged writes %d (settings "
          "%d, samples %d, curves %d), found %d, lost %d",
          killed, midTransaction, m_filesChecked, writes, int(m_settings), samples, curves,
          writes - lost, lost);
    for (auto it = m_failures.cbegin(); it != m_failures.cend(); ++it)
        qInfo("%d times: %s", it.value(), qPrintable(it.key()));
    QVERIFY2(m_lost.isEmpty(), qPrintable(QStringList(m_lost.values()).join(QLatin1Char('\n'))));
}

int main(int argc, char **argv)
{
    const QByteArray child = qgetenv(childVariable);
    if (child == "work")
        return work(argc, argv);
    if (child == "check")
        return check(argc, argv);
    QCoreApplication app(argc, argv);
    tst_Crashes test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashes.moc"
