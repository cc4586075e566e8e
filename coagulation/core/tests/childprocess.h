#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>

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

#endif // CHILDPROCESS_H
