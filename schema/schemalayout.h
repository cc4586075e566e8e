#ifndef SCHEMALAYOUT_H
#define SCHEMALAYOUT_H

#include <QtCore/QString>
#include <QtCore/QStringList>

// Lays out the databases of an installation from the embedded schema files.
namespace SchemaLayout {

// "profile", "data", "qc", "syslog": each database file is <name>.db.
QStringList schemaNames();

// Creates (or extends) the SQLite file `file` with the tables of `schema`.
// On failure returns false and describes the cause in *error.
bool createDatabase(const QString &file, const QString &schema, QString *error = nullptr);

// Creates the four databases in `directory`.
bool createDatabases(const QString &directory, QString *error = nullptr);

// Lays out an installation in the current directory unless it has one, that
// is unless the profile database that settings.ini names (by default
// "profile.db") exists. Each of the four databases that is missing is created
// under the name settings.ini gives it; files that exist are left alone.
bool layOutInstallation(QString *error = nullptr);

} // namespace SchemaLayout

#endif // SCHEMALAYOUT_H
