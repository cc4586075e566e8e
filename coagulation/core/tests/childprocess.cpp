#include "childprocess.h"

#include <QtCore/QTemporaryFile>

#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/wait.h>
#else
#include <QtCore/QProcess>
#include <QtCore/qt_windows.h>
#endif

static constexpr int timeLimitSeconds = 120;

#ifdef Q_OS_UNIX

static QString shellQuoted(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("'\\''"))
        + QLatin1Char('\'');
}

ChildOutcome runChild(const QString &program, const QStringList &arguments,
                      const QString &workingDirectory, const QMap<QString, QString> &environment)
{
    ChildOutcome outcome;
    QTemporaryFile errors;
    if (!errors.open())
        return outcome;
    QString command;
    if (!workingDirectory.isEmpty())
        command = QStringLiteral("cd %1 && ").arg(shellQuoted(workingDirectory));
    command += QStringLiteral("exec env");
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        command += QLatin1Char(' ') + shellQuoted(it.key() + QLatin1Char('=') + it.value());
    command += QStringLiteral(" timeout %1 ").arg(timeLimitSeconds) + shellQuoted(program);
    for (const QString &argument : arguments)
        command += QLatin1Char(' ') + shellQuoted(argument);
    command += QStringLiteral(" 2>") + shellQuoted(errors.fileName());

    FILE *child = popen(command.toLocal8Bit().constData(), "r");
    if (!child)
        return outcome;
    char buffer[4096];
    while (const size_t read = fread(buffer, 1, sizeof buffer, child))
        outcome.output.append(buffer, int(read));
    const int status = pclose(child);
    if (WIFEXITED(status))
        outcome.exitCode = WEXITSTATUS(status);
    outcome.errors = errors.readAll();
    return outcome;
}

#else

void startWithoutConsole(QProcess &process)
{
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        arguments->flags = (arguments->flags & ~DWORD(CREATE_NO_WINDOW)) | DETACHED_PROCESS;
    });
}

ChildOutcome runChild(const QString &program, const QStringList &arguments,
                      const QString &workingDirectory, const QMap<QString, QString> &environment)
{
    QProcess process;
    startWithoutConsole(process);
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        variables.insert(it.key(), it.value());
    process.setProcessEnvironment(variables);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    ChildOutcome outcome;
    if (!process.waitForFinished(timeLimitSeconds * 1000)) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        outcome.exitCode = process.exitCode();
    // Text written by the C runtime ends its lines with CR LF here.
    outcome.output = process.readAllStandardOutput().replace("\r\n", "\n");
    outcome.errors = process.readAllStandardError().replace("\r\n", "\n");
    return outcome;
}

#endif

static void writeUtf8(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    std::fputs((qFormatLogMessage(type, context, message) + QLatin1Char('\n')).toUtf8().constData(),
               stderr);
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

void writeMessagesAsUtf8()
{
    qInstallMessageHandler(writeUtf8);
}

#ifdef Q_OS_UNIX

struct LockHolder::Process
{
    FILE *output;
};

LockHolder::LockHolder(const QString &databaseFile, Mode mode, int seconds)
{
    const QString command =
        QStringLiteral("exec %1 %2 %3 %4")
            .arg(shellQuoted(QStringLiteral(LOCKHOLDER)), shellQuoted(databaseFile),
                 mode == Exclusive ? QStringLiteral("exclusive") : QStringLiteral("read"))
            .arg(seconds);
    FILE *output = popen(command.toLocal8Bit().constData(), "r");
    if (!output)
        return;
    m_process.reset(new Process{output});
    long long pid = 0;
    if (std::fscanf(output, "held %lld", &pid) == 1)
        m_pid = pid;
}

void LockHolder::release()
{
    if (!m_process)
        return;
    if (m_pid > 0)
        ::kill(pid_t(m_pid), SIGKILL);
    pclose(m_process->output);
    m_process.reset();
    m_pid = 0;
}

#else

struct LockHolder::Process
{
    QProcess process;
};

LockHolder::LockHolder(const QString &databaseFile, Mode mode, int seconds)
    : m_process(new Process)
{
    QProcess &process = m_process->process;
    startWithoutConsole(process);
    process.start(QStringLiteral(LOCKHOLDER),
                  {databaseFile,
                   mode == Exclusive ? QStringLiteral("exclusive") : QStringLiteral("read"),
                   QString::number(seconds)});
    while (process.waitForReadyRead(timeLimitSeconds * 1000) && !process.canReadLine())
        ;
    const QByteArray line = process.readLine().trimmed();
    if (line.startsWith("held "))
        m_pid = line.mid(5).toLongLong();
}

void LockHolder::release()
{
    if (!m_process)
        return;
    m_process->process.kill();
    m_process->process.waitForFinished();
    m_process.reset();
    m_pid = 0;
}

#endif

LockHolder::~LockHolder()
{
    release();
}
