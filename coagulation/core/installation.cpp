#include "installation.h"

#include "settingsfile_p.h"

#include <QtCore/QAtomicInteger>
#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// What a new installation's settings.ini says, and where each key is read.
const char settingsTemplate[] =
    "; Settings of an installation of the coagulation analyser's application.\n"
    "; The application reads this file from its working directory at start-up\n"
    "; and never writes it; everything else lives in the table profile of the\n"
    "; profile database.\n"
    "\n"
    "[db]\n"
    "; The profile database is looked for in the working directory, the\n"
    "; executable's directory and release/, in that order. The names of the\n"
    "; other three are joined to the directory where it was found; an absolute\n"
    "; name stands for itself.\n"
    "profile=profile.db\n"
    "data=data.db\n"
    "qc=qc.db\n"
    "syslog=syslog.db\n"
    "\n"
    "[settings]\n"
    "; Language suffix of the translation files: base name + \"_\" + language\n"
    "; + \".qm\", looked for in \".\", \"..\", \"../translations\" and Qt's own\n"
    "; translations directory. zh_CN keeps the texts as written.\n"
    "language=zh_CN\n"
    "; Base name of the company's translation file, loaded after the others\n"
    "; so that its texts (branding among them) take precedence.\n"
    ";company=\n"
    "; Base names of the translation files in loading order, comma-separated;\n"
    "; when given, replaces the default list qt, kr and the company's file.\n"
    ";translations=qt,kr\n";

// A name beside @p file for building it, unique among the set-up runs of
// this machine.
QString buildingName(const QString &file)
{
    static QAtomicInteger<quint32> counter;
    return QStringLiteral("%1.%2-%3.new")
        .arg(file)
        .arg(QCoreApplication::applicationPid())
        .arg(counter.fetchAndAddRelaxed(1));
}

// A rename that fails when the target exists, in one step. QFile::rename
// checks first and, when the system then refuses, copies over the target.
bool renameWithoutReplacing(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                       reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
                       MOVEFILE_WRITE_THROUGH);
#else
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE)
        == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    // A link is made only under a free name.
    if (::link(source.constData(), target.constData()) != 0)
        return false;
    ::unlink(source.constData());
    return true;
#endif
}

// Moves a file built under buildingName() into place unless a file is there
// by then: another set-up run got there first, and what exists is kept. So
// an application starting meanwhile never opens a half-made file.
bool moveIntoPlace(const QString &building, const QString &file, QString *error)
{
    if (renameWithoutReplacing(building, file))
        return true;
    QFile::remove(building);
    return QFileInfo::exists(file) || fail(error, QStringLiteral("cannot create %1").arg(file));
}

enum class Existing { Created, Empty };

// Runs a schema's statements in one transaction on `file`. An `Empty` file is
// one start-up left: it gets its tables only while it still has none, since
// another set-up run may lay it out at the same moment.
bool runSchema(const QString &file, const QString &schema, Existing existing, QString *error)
{
    QString script = Installation::schemaSql(schema);
    if (script.isEmpty())
        return fail(error, QStringLiteral("no schema named %1").arg(schema));
    // The driver runs one statement per call; the schema files hold no ';'
    // other than between statements.
    script.remove(QRegularExpression(QStringLiteral("--[^\n]*")));
    const QStringList statements = script.split(QLatin1Char(';'), Qt::SkipEmptyParts);

    // A connection of its own, so that no connection of the caller is touched.
    static QAtomicInteger<quint32> counter;
    const QString connection =
        QStringLiteral("coagulation.core installation %1").arg(counter.fetchAndAddRelaxed(1));
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(file);
        QSqlQuery query(db);
        const auto failed = [&](const QSqlError &cause) {
            return fail(error, QStringLiteral("%1: %2").arg(file, cause.text()));
        };
        // All tables or none, written under the file's write lock from the
        // start, so that a run that finds tables made by another leaves them.
        if (!db.open())
            ok = failed(db.lastError());
        else if (!query.exec(QStringLiteral("begin immediate")))
            ok = failed(query.lastError());
        else if (existing == Existing::Empty
                 && (!query.exec(QStringLiteral("select count(*) from sqlite_master"))
                     || !query.next()))
            ok = failed(query.lastError());
        if (ok && (existing == Existing::Created || query.value(0).toInt() == 0)) {
            for (const QString &statement : statements) {
                if (!statement.trimmed().isEmpty() && !query.exec(statement)) {
                    ok = failed(query.lastError());
                    break;
                }
            }
        }
        if (db.isOpen()) {
            query.finish();
            if (ok && !query.exec(QStringLiteral("commit")))
                ok = failed(query.lastError());
            if (!ok)
                query.exec(QStringLiteral("rollback"));
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

} // namespace

QStringList Installation::schemas()
{
    return {QStringLiteral("profile"), QStringLiteral("data"), QStringLiteral("qc"),
            QStringLiteral("syslog")};
}

QString Installation::schemaSql(const QString &schema)
{
    if (!schemas().contains(schema))
        return QString();
    QFile source(QStringLiteral(":/coagulation/schema/%1.sql").arg(schema));
    return source.open(QIODevice::ReadOnly) ? QString::fromUtf8(source.readAll()) : QString();
}

bool Installation::createDatabase(const QString &file, const QString &schema, QString *error)
{
    return runSchema(file, schema, Existing::Created, error);
}

bool Installation::layOut(const QString &directory, QString *error)
{
    const QDir dir(directory);
    if (!dir.mkpath(QStringLiteral(".")))
        return fail(error, QStringLiteral("cannot create %1").arg(directory));

    const QString settingsFile = dir.filePath(QStringLiteral("settings.ini"));
    if (!QFileInfo::exists(settingsFile)) {
        QFile out(buildingName(settingsFile));
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) || out.write(settingsTemplate) < 0
            || !out.flush()) {
            const QString cause = out.errorString();
            out.remove();
            return fail(error, QStringLiteral("%1: %2").arg(settingsFile, cause));
        }
        out.close();
        if (!moveIntoPlace(out.fileName(), settingsFile, error))
            return false;
    }

    // The names settings.ini gives, joined to the directory as start-up joins
    // them to the one where it finds the profile database. The profile
    // database goes last: an application that finds it starts on the others,
    // and would make empty files of any still missing.
    const SettingsFile settings(settingsFile);
    QStringList files;
    for (int database = 0; database < 4; ++database)
        files << dir.filePath(settings
                                  .value(QLatin1String(SettingsFile::databaseKeys[database]),
                                         SettingsFile::defaultDatabaseName(database))
                                  .toString());
    const QString shared = sharedFile(files);
    if (!shared.isEmpty())
        return fail(error,
                    QStringLiteral("%1 names %2 for two databases").arg(settingsFile, shared));
    const QStringList schemaNames = schemas();
    for (int database : {1, 2, 3, 0}) { // the profile database (0) last
        const QString &file = files.at(database);
        const QFileInfo existing(file);
        if (existing.isDir())
            return fail(error, QStringLiteral("%1 is a directory").arg(file));
        if (existing.exists()) {
            // An empty data, quality-control or log file is what the SQLite
            // driver makes of one that start-up did not find: it gets its
            // tables where it stands. Start-up never makes the profile database.
            if (database != 0 && existing.size() == 0
                && !runSchema(file, schemaNames.at(database), Existing::Empty, error))
                return false;
            continue;
        }
        if (!QDir().mkpath(existing.path()))
            return fail(error, QStringLiteral("cannot create the directory of %1").arg(file));
        const QString building = buildingName(file);
        if (!createDatabase(building, schemaNames.at(database), error)) {
            QFile::remove(building);
            if (error)
                error->replace(building, file);
            return false;
        }
        if (!moveIntoPlace(building, file, error))
            return false;
    }
    return true;
}
