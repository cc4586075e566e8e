#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <memory>

// How a program run by runChild() ended.
struct ChildOutcome
{
    int exitCode = -1; // -1 when it did not end normally: a crash, or two minutes passed
    QByteArray output;
    QByteArray errors;
};

// Runs a program to its end in a process of its own, in workingDirectory
// (the current one when empty) and with the variables of environment added.
// On Unix through popen() rather than QProcess: Qt 6 starts processes with a
// clone() that ThreadSanitizer's run-time cannot follow.
ChildOutcome runChild(const QString &program, const QStringList &arguments,
                      const QString &workingDirectory = QString(),
                      const QMap<QString, QString> &environment = {});

#ifdef Q_OS_WIN
class QProcess;

// Starts the children of `process` as the application runs, without a
// console. Under Wine a console's host that a child killed while starting
// never joined lives on, holding the test's output open.
void startWithoutConsole(QProcess &process);
#endif

// For a child whose parent reads its messages: each goes to the standard
// error as a line of UTF-8, whatever the system's code page (Qt writes them
// in the ANSI code page on Windows).
void writeMessagesAsUtf8();

// Another program holding a lock on an SQLite file (the lockholder
// program) from construction until destruction, or until `seconds` pass.
// held() tells whether it took the lock.
class LockHolder
{
public:
    enum Mode { Exclusive, Read };
    LockHolder(const QString &databaseFile, Mode mode, int seconds = 60);
    ~LockHolder();

    bool held() const { return m_pid > 0; }
    void release();

private:
    Q_DISABLE_COPY(LockHolder)
    struct Process;
    std::unique_ptr<Process> m_process;
    qint64 m_pid = 0;
};

#endif // CHILDPROCESS_H
