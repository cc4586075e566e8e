#include "analysisresult.h"

#include "corelogging_p.h"
#include "profile.h"
#include "profile_p.h"

#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

// Curves in the table `curve` of the data database, one row per save.

namespace {

// A select of the data database, with the warning line of its failure.
bool select(QSqlQuery &query, const QString &statement, const QVariantList &bindValues)
{
    if (query.prepare(statement)) {
        for (const QVariant &value : bindValues)
            query.addBindValue(value);
        if (query.exec())
            return true;
    }
    qCWarning(lcCore).noquote()
        << QStringLiteral("%1(%2):").arg(QLatin1String(__FILE__)).arg(__LINE__) << statement
        << query.lastError();
    return false;
}

} // namespace

void ClotCurve::save(int patientId, const QString &item, int version) const
{
    store(patientId, item, version);
}

bool ClotCurve::store(int patientId, const QString &item, int version) const
{
    if (m_segments.isEmpty())
        return false;
    const QSqlDatabase db = ProfilePrivate::dataDatabase("ClotCurve::save");
    if (!db.isValid())
        return false;

    QSqlQuery query(db);
    if (!query.prepare(QStringLiteral("insert into curve (patientId, item, version, curve) "
                                      "values(:patientId, :item, :version, :curve)")))
        qCWarning(lcCore) << "..\\..\\coagulation\\core\\analysisresult(91):" << query.lastError();
    query.bindValue(QStringLiteral(":patientId"), patientId);
    query.bindValue(QStringLiteral(":item"), item);
    query.bindValue(QStringLiteral(":version"), version);
    query.bindValue(QStringLiteral(":curve"), toBuffer());
    if (!query.exec()) {
        qCWarning(lcCore) << "..\\..\\coagulation\\core\\analysisresult(103):" << query.lastError();
        return false;
    }
    return true;
}

ClotCurve ClotCurve::load(int patientId, const QString &item, int version, bool *ok)
{
    if (ok)
        *ok = false;
    const QSqlDatabase db = ProfilePrivate::dataDatabase("ClotCurve::load");
    if (!db.isValid())
        return ClotCurve();
    QSqlQuery query(db);
    // Saving twice under one version keeps both rows; the later one counts.
    if (!select(query,
                QStringLiteral("select curve from curve where patientId = ? and item = ? "
                               "and version = ? order by rowid desc limit 1"),
                {patientId, item, version})
        || !query.next())
        return ClotCurve();
    return fromBuffer(query.value(0).toByteArray(), ok);
}

int ClotCurve::latestVersion(int patientId, const QString &item)
{
    const QSqlDatabase db = ProfilePrivate::dataDatabase("ClotCurve::latestVersion");
    if (!db.isValid())
        return 0;
    QSqlQuery query(db);
    if (!select(query,
                QStringLiteral("select max(version) from curve where patientId = ? and item = ?"),
                {patientId, item})
        || !query.next())
        return 0;
    return query.value(0).toInt();
}
