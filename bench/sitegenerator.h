#ifndef SITEGENERATOR_H
#define SITEGENERATOR_H

#include <QtCore/QDate>
#include <QtCore/QString>
#include <QtSql/QSqlDatabase>

struct sqlite3;

// Sites of a lab that has run the application for a while: settings.ini and
// the four databases laid out by the library, then filled with years of
// samples and curves. Generating a large one takes minutes, so each is kept
// in the build directory and made again only when the generator changes.

struct SiteShape
{
    const char *name; // the site's directory under the sites directory
    int days; // the last of them is the site's today
    int patients; // rows of `patient`, over all days
    int lastDaySamples; // of those, today's
    int curves; // rows of `curve`, for the latest samples
    int settings; // rows of `profile`
};

struct Site
{
    QString directory; // absolute, with settings.ini
    QString profileFile;
    QString dataFile;
    QDate lastDay;
    int patients = 0; // ids 1 to patients
    int curves = 0; // rowids 1 to curves
    int settings = 0;
    int lastDaySamples = 0;
    int nextSampleNo = 0; // what nextSampleNo(lastDay) gives on the site as made
};

// The site of @p shape in @p sitesDirectory: the one a run left there when
// the same generator made it, after trimSite(), or a new one.
bool prepareSite(const QString &sitesDirectory, const SiteShape &shape, Site *site, QString *error);

// Deletes the rows that benchmarks added since the site was made.
bool trimSite(const Site &site, QString *error);

// The SQLite handle of a library connection, or null; the driver and the
// benchmarks share the system's SQLite.
sqlite3 *handleOf(const QSqlDatabase &db);

#endif // SITEGENERATOR_H
