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

} // namespace SchemaLayout

#endif // SCHEMALAYOUT_H
