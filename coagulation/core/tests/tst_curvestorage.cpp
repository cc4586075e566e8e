#include "analysisresult.h"
#include "profile.h"
#include "testinstallation.h"

#include <QtSql/QSqlQuery>

#include <QtTest/QtTest>

#include <cmath>

// The values' bits, so that NaNs and signed zeros compare exactly.
static QByteArray bitsOf(const QVector<double> &values)
{
    return QByteArray(reinterpret_cast<const char *>(values.constData()),
                      int(sizeof(double)) * values.size());
}

class tst_CurveStorage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void savedBytesReadBackBitForBit();
    void curveWithoutSegmentsWritesNothing();
    void failedStatementsAreLogged();
    void storeAndLoad();

private:
    int curveRows();
    bool renameCurveTable(const QString &from, const QString &to);
    TestInstallation m_installation;
};

void tst_CurveStorage::initTestCase()
{
    QVERIFY(m_installation.create());
    m_installation.enter();
    QVERIFY(Profile::instance().dataDatabase().isOpen());
}

void tst_CurveStorage::init()
{
    QVERIFY(m_installation.execSql("data.db", "delete from curve"));
}

int tst_CurveStorage::curveRows()
{
    return m_installation.query("data.db", "select count(*) from curve").value(0).value(0).toInt();
}

// Renamed through the store's own connection, so that it knows of the change
// before it prepares its next statement.
bool tst_CurveStorage::renameCurveTable(const QString &from, const QString &to)
{
    QSqlQuery query(Profile::instance().dataDatabase());
    return query.exec(QStringLiteral("alter table %1 rename to %2").arg(from, to));
}

void tst_CurveStorage::savedBytesReadBackBitForBit()
{
    ClotCurve curve;
    curve.append(0.0, 0.1, {1200.5, 1199.25, -0.0, 1e-300});
    curve.append(12.0, 0.5, {}); // a segment without points is still stored
    curve.append(20.0, 0.25, {std::nan(""), 3.0});
    curve = curve.toType(ClotCurve::OD);

    WarningCapture warnings;
    curve.save(17, QStringLiteral("PT"), 3);
    QCOMPARE(warnings.lines(), QStringList());

    // Read through a connection of our own, not the store's.
    const QList<QVariantList> rows =
        m_installation.query("data.db", "select patientId, item, version, curve from curve");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0].toInt(), 17);
    QCOMPARE(rows[0][1].toString(), QStringLiteral("PT"));
    QCOMPARE(rows[0][2].toInt(), 3);
    const QByteArray stored = rows[0][3].toByteArray();
    QCOMPARE(stored, curve.toBuffer());

    const ClotCurve back = ClotCurve::fromBuffer(stored);
    QCOMPARE(back.type(), ClotCurve::OD);
    QCOMPARE(back.segments().size(), 3);
    for (int k = 0; k < 3; ++k) {
        const ClotCurve::Segment a = curve.segments().at(k), b = back.segments().at(k);
        QCOMPARE(qFromUnaligned<quint64>(&b.start), qFromUnaligned<quint64>(&a.start));
        QCOMPARE(qFromUnaligned<quint64>(&b.step), qFromUnaligned<quint64>(&a.step));
        QCOMPARE(b.values.size(), a.values.size());
        QCOMPARE(bitsOf(b.values), bitsOf(a.values));
    }
}

void tst_CurveStorage::curveWithoutSegmentsWritesNothing()
{
    // Even with the table gone, nothing runs and so nothing is logged.
    QVERIFY(renameCurveTable("curve", "curve_saved"));
    WarningCapture warnings;
    ClotCurve().save(1, QStringLiteral("PT"), 1);
    QCOMPARE(warnings.lines(), QStringList());
    QVERIFY(renameCurveTable("curve_saved", "curve"));
    QCOMPARE(curveRows(), 0);
}

void tst_CurveStorage::failedStatementsAreLogged()
{
    QVERIFY(renameCurveTable("curve", "curve_saved"));
    ClotCurve curve;
    curve.append(0.0, 1.0, {1.0});
    {
        WarningCapture warnings;
        curve.save(1, QStringLiteral("PT"), 1);
        const QStringList prepare = warnings.linesContaining("analysisresult(91):");
        const QStringList execute = warnings.linesContaining("analysisresult(103):");
        QCOMPARE(prepare.size(), 1);
        QCOMPARE(execute.size(), 1);
        QVERIFY(prepare[0].startsWith("..\\..\\coagulation\\core\\analysisresult(91): QSqlError("));
        QVERIFY(prepare[0].contains("no such table: curve"));
        QVERIFY(
            execute[0].startsWith("..\\..\\coagulation\\core\\analysisresult(103): QSqlError("));
    }
    QVERIFY(renameCurveTable("curve_saved", "curve"));
    QCOMPARE(curveRows(), 0);
}

// The caller sees what happened: whether a row was written, whether a
// complete curve came back, and which version is the latest.
void tst_CurveStorage::storeAndLoad()
{
    ClotCurve first, second;
    first.append(0.0, 0.1, {1200.0, 1190.0});
    second.append(0.0, 0.1, {900.0});
    QCOMPARE(ClotCurve::latestVersion(5, QStringLiteral("PT")), 0);
    QVERIFY(first.store(5, QStringLiteral("PT"), 1));
    QVERIFY(second.store(5, QStringLiteral("PT"), 2));
    QVERIFY(second.store(5, QStringLiteral("APTT"), 7));
    QVERIFY(!ClotCurve().store(5, QStringLiteral("PT"), 3)); // nothing to store
    QCOMPARE(ClotCurve::latestVersion(5, QStringLiteral("PT")), 2);

    bool ok = false;
    QVERIFY(ClotCurve::load(5, QStringLiteral("PT"), 1, &ok) == first);
    QVERIFY(ok);
    QVERIFY(ClotCurve::load(5, QStringLiteral("PT"), 2, &ok) == second);
    QVERIFY(ClotCurve::load(5, QStringLiteral("PT"), 3, &ok).isEmpty());
    QVERIFY(!ok);
    // The same version saved again: the later row counts.
    QVERIFY(first.store(5, QStringLiteral("PT"), 2));
    QVERIFY(ClotCurve::load(5, QStringLiteral("PT"), 2) == first);

    // Bytes that are no whole curve are reported, not passed off as one.
    QVERIFY(m_installation.execSql("data.db", "insert into curve values(6, 'PT', 1, ?)",
                                   {QByteArray::fromHex("0000000000000001")}));
    QVERIFY(ClotCurve::load(6, QStringLiteral("PT"), 1, &ok).isEmpty());
    QVERIFY(!ok);

    QVERIFY(renameCurveTable("curve", "curve_saved"));
    {
        WarningCapture warnings;
        QVERIFY(!first.store(5, QStringLiteral("PT"), 9));
        QVERIFY(ClotCurve::load(5, QStringLiteral("PT"), 1, &ok).isEmpty());
        QVERIFY(!ok);
        QCOMPARE(ClotCurve::latestVersion(5, QStringLiteral("PT")), 0);
        QCOMPARE(warnings.lines().size(), 4); // prepare and execute of the insert, two selects
    }
    QVERIFY(renameCurveTable("curve_saved", "curve"));
}

QTEST_GUILESS_MAIN(tst_CurveStorage)
#include "tst_curvestorage.moc"
