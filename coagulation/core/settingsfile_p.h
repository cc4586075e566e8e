#ifndef SETTINGSFILE_P_H
#define SETTINGSFILE_P_H

//
//  This header is internal to the library and is not installed.
//

#include <QtCore/QStringList>
#include <QtCore/QVariant>

#include <memory>

class QSettings;
class QTemporaryFile;

// settings.ini (by default the one in the current directory), read only.
// Both builds read it as UTF-8: Qt 5 alone would read Latin-1 and garble a
// Chinese company name or path. A file that is not valid UTF-8 was written
// in the ANSI code page of a Chinese Windows (by an installer or Notepad),
// and is read as GB18030, the superset of GBK, with a warning naming it.
class SettingsFile
{
public:
    explicit SettingsFile(const QString &file = QStringLiteral("settings.ini"));
    ~SettingsFile();

    QVariant value(const QString &key, const QVariant &defaultValue = QVariant()) const;
    // What is wrong with a settings.ini that is there, or empty: one that
    // cannot be read or has lines that are no settings is read as far as it
    // goes, its keys defaulted. Also written to the warning channel.
    QString problem() const { return m_problem; }

    // The keys of the four database files, in the order profile, data,
    // quality control, system log, and their default names.
    static const char *const databaseKeys[4];
    static QString defaultDatabaseName(int database);

private:
    Q_DISABLE_COPY(SettingsFile)

    std::unique_ptr<QTemporaryFile> m_converted; // the GB18030 text as UTF-8
    std::unique_ptr<QSettings> m_settings;
    QString m_problem;
};

// The first file that two of @p paths name, once ".", "..", links and (on
// Windows) letter case are resolved; empty when each names a file of its own.
QString sharedFile(const QStringList &paths);

#endif // SETTINGSFILE_P_H
