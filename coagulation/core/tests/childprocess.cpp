#include "childprocess.h"

#include <QtCore/QTemporaryFile>

#ifdef Q_OS_UNIX
#include <cstdio>
#include <sys/wait.h>
#else
#include <QtCore/QProcess>
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

ChildOutcome runChild(const QString &program, const QStringList &arguments,
                      const QString &workingDirectory, const QMap<QString, QString> &environment)
{
    QProcess process;
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
    outcome.output = process.readAllStandardOutput();
    outcome.errors = process.readAllStandardError();
    return outcome;
}

#endif
