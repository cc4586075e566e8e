#include "schemalayout.h"

#include <QtCore/QAtomicInteger>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <QtCore/QSettings>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

// Outside any namespace, as Q_INIT_RESOURCE requires; needed because the
// resource lives in a static library.
static void initSchemaResource()
{
    Q_INIT_RESOURCE(schema);
}

namespace SchemaLayout {

QStringList schemaNames()
{
    return {QStringLiteral("profile"), QStringLiteral("data"), QStringLiteral("qc"),
            QStringLiteral("syslog")};
}

static bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool createDatabase(const QString &file, const QString &schema, QString *error)
{
    initSchemaResource();
    QFile source(QStringLiteral(":/schema/%1.sql").arg(schema));
    if (!source.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail(error, QStringLiteral("no schema named %1").arg(schema));

    // The driver runs one statement per call; the schema files hold no ';'
    // other than between statements.
    QString script = QString::fromUtf8(source.readAll());
    script.remove(QRegularExpression(QStringLiteral("--[^\n]*")));
    const QStringList statements = script.split(QLatin1Char(';'), Qt::SkipEmptyParts);

    // A connection of its own, so that no connection of the code under use is touched.
    static QAtomicInteger<quint32> counter;
    const QString connection = QStringLiteral("schemalayout-%1").arg(counter.fetchAndAddRelaxed(1));
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(file);
        if (!db.open()) {
            ok = fail(error, QStringLiteral("%1: %2").arg(file, db.lastError().text()));
        } else {
            for (const QString &statement : statements) {
                if (statement.trimmed().isEmpty())
                    continue;
                QSqlQuery query(db);
                if (!query.exec(statement)) {
                    ok = fail(error, QStringLiteral("%1: %2").arg(file, query.lastError().text()));
                    break;
                }
            }
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

bool createDatabases(const QString &directory, QString *error)
{
    const QDir dir(directory);
    if (!dir.mkpath(QStringLiteral(".")))
        return fail(error, QStringLiteral("cannot create %1").arg(directory));
    for (const QString &schema : schemaNames()) {
        if (!createDatabase(dir.filePath(schema + QStringLiteral(".db")), schema, error))
            return false;
    }
    return true;
}

bool layOutInstallation(QString *error)
{
    // The same names, relative to the current directory, that the settings
    // store opens at start-up, read as UTF-8 as the store reads them.
    QSettings settings(QStringLiteral("settings.ini"), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    settings.setIniCodec("UTF-8");
#endif
    const auto fileOf = [&settings](const QString &schema) {
        return settings.value(QStringLiteral("db/") + schema, schema + QStringLiteral(".db"))
            .toString();
    };
    if (QFileInfo::exists(fileOf(QStringLiteral("profile"))))
        return true;

    for (const QString &schema : schemaNames()) {
        const QString file = fileOf(schema);
        if (QFileInfo::exists(file))
            continue;
        if (!QDir().mkpath(QFileInfo(file).path()))
            return fail(error, QStringLiteral("cannot create the directory of %1").arg(file));
        if (!createDatabase(file, schema, error))
            return false;
    }
    return true;
}

} // namespace SchemaLayout
