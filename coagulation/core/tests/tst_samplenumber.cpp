#include "childprocess.h"
#include "krglobal.h"
#include "messageboxanswerer.h"
#include "profile.h"
#include "testinstallation.h"

#include <QtSql/QSqlDriver>
#include <QtSql/QSqlField>
#include <QtSql/QSqlRecord>
#include <QtTest/QtTest>

#include <limits>
#include <memory>

Q_DECLARE_METATYPE(kr::SampleType)

class tst_SampleNumber : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void nextSampleNo_data();
    void nextSampleNo();
    void samplePrefix_data();
    void samplePrefix();
    void setGeneratedValue();
    void queryFails_data();
    void queryFails();

private:
    std::unique_ptr<TestInstallation> m_inst;
};

void tst_SampleNumber::initTestCase()
{
    m_inst.reset(new TestInstallation);
    QVERIFY(m_inst->create());
    m_inst->enter();
    MessageBoxAnswerer answerer;
    Profile::instance();
    QCOMPARE(answerer.seen.size(), 0);
}

void tst_SampleNumber::cleanup()
{
    m_inst->execSql(QStringLiteral("data.db"), QStringLiteral("delete from patient"));
    Profile::instance().remove(QStringLiteral("statim_sample_prefix"));
    Profile::instance().remove(QStringLiteral("qc_sample_prefix"));
}

void tst_SampleNumber::nextSampleNo_data()
{
    QTest::addColumn<QStringList>("stored"); // "yyyy-MM-dd sampleNo"
    QTest::addColumn<QDate>("date");
    QTest::addColumn<int>("expected");

    const QDate day(2024, 3, 1);
    QTest::newRow("no samples") << QStringList() << day << 1;
    QTest::newRow("integer maximum") << QStringList{"2024-03-01 9", "2024-03-01 10"} << day << 11;
    QTest::newRow("other dates ignored")
        << QStringList{"2024-03-01 9", "2024-03-01 10", "2024-03-02 50", "2024-02-29 70"} << day
        << 11;
    QTest::newRow("only other dates") << QStringList{"2024-03-02 50"} << day << 1;
    QTest::newRow("leading digits") << QStringList{"2024-03-01 12A", "2024-03-01 3"} << day << 13;
    QTest::newRow("no digits") << QStringList{"2024-03-01 ABC"} << day << 1;
    QTest::newRow("null date") << QStringList{"2024-03-01 9"} << QDate() << 1;
    QTest::newRow("negative") << QStringList{"2024-03-01 -5"} << day << 1;
    QTest::newRow("beyond int range")
        << QStringList{"2024-03-01 99999999999"} << day << std::numeric_limits<int>::max();
}

void tst_SampleNumber::nextSampleNo()
{
    QFETCH(QStringList, stored);
    QFETCH(QDate, date);
    QFETCH(int, expected);

    for (const QString &entry : stored) {
        const QStringList parts = entry.split(QLatin1Char(' '));
        QVERIFY(
            m_inst->execSql(QStringLiteral("data.db"),
                            QStringLiteral("insert into patient (date, sampleNo) values (?, ?)"),
                            {parts.at(0), parts.at(1)}));
    }
    WarningCapture warnings;
    QCOMPARE(::nextSampleNo(date), expected);
    // Nothing is reserved: asking again gives the same number.
    bool ok = false;
    QCOMPARE(::nextSampleNo(date, &ok), expected);
    QVERIFY(ok);
    QCOMPARE(warnings.lines(), QStringList());
}

void tst_SampleNumber::samplePrefix_data()
{
    QTest::addColumn<kr::SampleType>("type");
    QTest::addColumn<QString>("statimSetting"); // null: not stored
    QTest::addColumn<QString>("qcSetting");
    QTest::addColumn<QString>("expected");

    QTest::newRow("statim default") << kr::StatimSample << QString() << QString() << "S";
    QTest::newRow("qc default") << kr::QcSample << QString() << QString() << "QC";
    QTest::newRow("routine") << kr::RoutineSample << QString() << QString() << "";
    QTest::newRow("statim stored") << kr::StatimSample << "急"
                                   << "Q"
                                   << "急";
    QTest::newRow("qc stored") << kr::QcSample << "急"
                               << "Q"
                               << "Q";
    QTest::newRow("statim stored empty") << kr::StatimSample << "" << QString() << "";
    QTest::newRow("routine ignores settings") << kr::RoutineSample << "急"
                                              << "Q"
                                              << "";
    // 3 is the largest value that the enumeration can hold.
    QTest::newRow("outside the enumeration") << kr::SampleType(3) << "急"
                                             << "Q"
                                             << "";
}

void tst_SampleNumber::samplePrefix()
{
    QFETCH(kr::SampleType, type);
    QFETCH(QString, statimSetting);
    QFETCH(QString, qcSetting);
    QFETCH(QString, expected);

    Profile &profile = Profile::instance();
    if (!statimSetting.isNull())
        profile.set_statim_sample_prefix(statimSetting);
    if (!qcSetting.isNull())
        profile.set_qc_sample_prefix(qcSetting);
    QCOMPARE(::samplePrefix(type), expected);
}

// A text column, declared as each Qt major wants it.
static QSqlField textField(const QString &name)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QSqlField(name, QMetaType(QMetaType::QString));
#else
    return QSqlField(name, QVariant::String);
#endif
}

void tst_SampleNumber::setGeneratedValue()
{
    QSqlRecord record;
    record.append(textField(QStringLiteral("sampleNo")));
    record.append(textField(QStringLiteral("date")));
    record.setValue(QStringLiteral("date"), QStringLiteral("2024-03-01"));
    record.setGenerated(QStringLiteral("sampleNo"), false);
    record.setGenerated(QStringLiteral("date"), false);

    const QSqlRecord before = record;
    ::setGeneratedValue(record, QStringLiteral("bedNo"), QStringLiteral("7"));
    QCOMPARE(record, before);

    ::setGeneratedValue(record, QStringLiteral("sampleNo"), QStringLiteral("12"));
    QCOMPARE(record.value(QStringLiteral("sampleNo")), QVariant(QStringLiteral("12")));
    QVERIFY(record.isGenerated(QStringLiteral("sampleNo")));
    QVERIFY(!record.isGenerated(QStringLiteral("date")));

    // What the marking is for: the generated insert names that field only.
    const QString insert = Profile::instance().dataDatabase().driver()->sqlStatement(
        QSqlDriver::InsertStatement, QStringLiteral("patient"), record, false);
    QVERIFY2(insert.contains(QLatin1String("sampleNo")) && !insert.contains(QLatin1String("date")),
             qPrintable(insert));
}

void tst_SampleNumber::queryFails_data()
{
    QTest::addColumn<bool>("locked"); // else the table is missing
    QTest::addColumn<QString>("error");
    QTest::newRow("missing table") << false << "no such table: patient";
    QTest::newRow("locked by another program") << true << "database is locked";
}

void tst_SampleNumber::queryFails()
{
    QFETCH(bool, locked);
    QFETCH(QString, error);
    QVERIFY(m_inst->execSql(QStringLiteral("data.db"),
                            QStringLiteral("insert into patient (date, sampleNo) values (?, ?)"),
                            {QStringLiteral("2024-03-01"), QStringLiteral("5")}));
    // Reopened, the connection finds a missing table already when preparing,
    // as it does when the table was never there; and it waits briefly.
    QSqlDatabase data = Profile::instance().dataDatabase();
    data.close();
    data.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=200"));
    std::unique_ptr<LockHolder> holder;
    if (locked) {
        holder.reset(
            new LockHolder(m_inst->filePath(QStringLiteral("data.db")), LockHolder::Exclusive));
        QVERIFY(holder->held());
    } else {
        QVERIFY(m_inst->execSql(QStringLiteral("data.db"), QStringLiteral("drop table patient")));
    }
    QVERIFY(data.open());

    WarningCapture warnings;
    // The old call cannot tell; the new one never hands out a number that
    // may be taken.
    QCOMPARE(::nextSampleNo(QDate(2024, 3, 1)), 1);
    bool ok = true;
    QCOMPARE(::nextSampleNo(QDate(2024, 3, 1), &ok), 0);
    QVERIFY(!ok);

    // The lines of the two calls: (174) when preparing fails, then (177).
    const QStringList lines = warnings.linesContaining(QStringLiteral("krglobal(17"));
    QCOMPARE(lines.size(), 4);
    QVERIFY2(
        lines.at(0).startsWith(QLatin1String(R"(..\..\coagulation\core\krglobal(174): QSqlError()"))
            && lines.at(0).contains(error),
        qPrintable(lines.at(0)));
    QVERIFY2(lines.at(1).startsWith(
                 QLatin1String(R"(..\..\coagulation\core\krglobal(177): QSqlError()")),
             qPrintable(lines.at(1)));
    if (!locked) {
        QVERIFY(m_inst->execSql(QStringLiteral("data.db"),
                                QStringLiteral("create table patient (sampleNo text, date text)")));
    }
    holder.reset();
    data.close();
    data.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    QVERIFY(data.open());
}

QTEST_MAIN(tst_SampleNumber)
#include "tst_samplenumber.moc"
