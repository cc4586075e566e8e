#ifndef INSTALLATION_H
#define INSTALLATION_H

#include "core_global.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

/**
 * @file installation.h
 * Laying out a site: settings.ini and the four databases.
 */

/**
 * The files an installation of the application consists of, laid out from
 * the schema that comes with the library: settings.ini and the four SQLite
 * databases "profile.db", "data.db", "qc.db" and "syslog.db" with the tables
 * the library expects. The library itself never creates a table at run time;
 * this is for set-up programs, tests and tools (coagulation-setup DIR does
 * the same from the command line). Needs no application object and no
 * settings store, and may run on any thread.
 *
 * @code
 * QString error;
 * if (!Installation::layOut(QStringLiteral("/srv/analyser"), &error))
 *     qFatal("%s", qPrintable(error));
 * @endcode
 *
 * @ingroup settings
 */
class CORE_EXPORT Installation
{
public:
    /** "profile", "data", "qc", "syslog": the schemas, one per database. */
    static QStringList schemas();
    /** The SQL of one schema, empty for an unknown name. */
    static QString schemaSql(const QString &schema);

    /**
     * Creates the tables of @p schema in the SQLite file @p file (made if
     * missing). False, with the cause in @p error, when a statement fails.
     */
    static bool createDatabase(const QString &file, const QString &schema,
                               QString *error = nullptr);

    /**
     * Lays out an installation in @p directory (made if missing): settings.ini
     * with every key documented in a comment, then each of the four
     * databases under the name settings.ini gives it. Nothing that exists is
     * touched: an existing settings.ini is kept and read, an existing
     * database file is left as it is. Each file is made under a temporary
     * name and moved into place whole, so set-up runs at the same time (or
     * an application starting meanwhile) never see a half-made file. False,
     * with the cause in @p error, on a failure.
     */
    static bool layOut(const QString &directory, QString *error = nullptr);
};

#endif // INSTALLATION_H
