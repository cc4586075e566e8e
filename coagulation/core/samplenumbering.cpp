#include "krglobal.h"

#include "corelogging_p.h"
#include "profile.h"
#include "profile_p.h"

#include <QtCore/QDate>
#include <QtCore/QDebug>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtSql/QSqlRecord>

#include <algorithm>
#include <limits>

// Sample numbers of a day from the table `patient`, and their prefixes.

int nextSampleNo(const QDate &date)
{
    bool ok = false;
    const int number = nextSampleNo(date, &ok);
    return ok ? number : 1;
}

int nextSampleNo(const QDate &date, bool *ok)
{
    bool ignored = false;
    if (!ok)
        ok = &ignored;
    *ok = false;
    const QSqlDatabase db = ProfilePrivate::dataDatabase("nextSampleNo");
    if (!db.isValid())
        return 0;
    QSqlQuery query(db);
    // The cast counts "12A" as 12 and a number without digits as 0, and
    // compares "10" above "9".
    if (!query.prepare(
            QStringLiteral("select max(cast(sampleNo as integer)) from patient where date=:date")))
        qCWarning(lcCore) << "..\\..\\coagulation\\core\\krglobal(174):" << query.lastError();
    query.bindValue(QStringLiteral(":date"), date);
    if (!query.exec()) {
        qCWarning(lcCore) << "..\\..\\coagulation\\core\\krglobal(177):" << query.lastError();
        return 0;
    }
    // The null maximum of no samples counts as 0. Numbers are counted from
    // 1, and one typed in beyond the int range must neither wrap nor overflow.
    const qint64 largest = query.next() ? query.value(0).toLongLong() : 0;
    *ok = true;
    return int(std::clamp<qint64>(largest, 0, std::numeric_limits<int>::max() - 1) + 1);
}

QString samplePrefix(kr::SampleType type)
{
    switch (type) {
    case kr::StatimSample:
        return Profile::instance().statim_sample_prefix(QStringLiteral("S"));
    case kr::QcSample:
        return Profile::instance().qc_sample_prefix(QStringLiteral("QC"));
    case kr::RoutineSample:
        break;
    }
    return QString();
}

void setGeneratedValue(QSqlRecord &record, const QString &name, const QVariant &value)
{
    // Both setters ignore the index -1 of an unknown name.
    const int index = record.indexOf(name);
    record.setValue(index, value);
    record.setGenerated(index, true);
}
