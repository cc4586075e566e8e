#include "analysisresult.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QRandomGenerator>
#include <QtTest/QtTest>

#include <cmath>

using Values = QVector<double>;

class tst_ClotCurve : public QObject
{
    Q_OBJECT

private slots:
    void newCurve();
    void pointAddressing_data();
    void pointAddressing();
    void remove_data();
    void remove();
    void emptySegmentIsNotEmptyCurve();
    void copiesAreIndependent();
    void simplifiedEqualsOriginal();

    void toTypeWithoutConversion_data();
    void toTypeWithoutConversion();
    void toTypeBaselineWindow_data();
    void toTypeBaselineWindow();
    void toTypeDensities_data();
    void toTypeDensities();
    void toTypeDegenerateSteps_data();
    void toTypeDegenerateSteps();

    void exactBytes();
    void bufferRoundTrip();
    void fromBufferTruncated_data();
    void fromBufferTruncated();
    void toBufferTooLarge();
    void fromBufferHostileCounts_data();
    void fromBufferHostileCounts();
    void fromBufferRandomBytes();
};

// (start 0.0, step 0.1, 5 values) and (start 10.0, step 0.5, 3 values)
static ClotCurve twoSegments()
{
    ClotCurve curve;
    curve.append(0.0, 0.1, {1, 2, 3, 4, 5});
    curve.append(ClotCurve::Segment{10.0, 0.5, {6, 7, 8}});
    return curve;
}

static QString describe(const ClotCurve &curve)
{
    QStringList parts;
    for (const ClotCurve::Segment &s : curve.segments()) {
        QStringList values;
        for (double v : s.values)
            values << QString::number(v);
        parts << QStringLiteral("%1/%2:[%3]").arg(s.start).arg(s.step).arg(values.join(','));
    }
    return parts.join(' ');
}

void tst_ClotCurve::newCurve()
{
    ClotCurve curve;
    QVERIFY(curve.isEmpty());
    QCOMPARE(curve.size(), 0);
    QCOMPARE(curve.type(), ClotCurve::Raw);
    QCOMPARE(curve.x(0), 0.0);
    QCOMPARE(curve.y(0), 0.0);
}

void tst_ClotCurve::pointAddressing_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");

    QTest::newRow("first") << 0 << 0.0 << 1.0;
    QTest::newRow("last of first segment") << 4 << 0.4 << 5.0;
    QTest::newRow("first of second segment") << 5 << 10.0 << 6.0;
    QTest::newRow("last") << 7 << 11.0 << 8.0;
    QTest::newRow("past the end") << 8 << 0.0 << 0.0;
    QTest::newRow("negative") << -1 << 0.0 << 0.0;
}

void tst_ClotCurve::pointAddressing()
{
    QFETCH(int, index);
    QFETCH(double, x);
    QFETCH(double, y);
    const ClotCurve curve = twoSegments();
    QCOMPARE(curve.size(), 8);
    QCOMPARE(curve.x(index), x);
    QCOMPARE(curve.y(index), y);
}

void tst_ClotCurve::remove_data()
{
    QTest::addColumn<ClotCurve>("curve");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expected");

    const ClotCurve two = twoSegments();
    QTest::newRow("across the border") << two << 4 << 2 << "0/0.1:[1,2,3,4] 10/0.5:[7,8]";
    QTest::newRow("whole first segment") << two << 0 << 5 << "10/0.5:[6,7,8]";
    QTest::newRow("beyond the end") << two << 3 << 100 << "0/0.1:[1,2,3]";
    QTest::newRow("inside second segment") << two << 6 << 1 << "0/0.1:[1,2,3,4,5] 10/0.5:[6,8]";
    QTest::newRow("start past the end") << two << 8 << 3 << describe(two);
    QTest::newRow("zero count") << two << 2 << 0 << describe(two);
    QTest::newRow("negative index") << two << -2 << 3 << describe(two);
    QTest::newRow("negative count") << two << 2 << -3 << describe(two);
    QTest::newRow("everything") << two << 0 << 8 << "";

    ClotCurve shifted;
    shifted.append(2.0, 0.5, {1, 2, 3});
    QTest::newRow("x values shift") << shifted << 0 << 1 << "2/0.5:[2,3]";

    // An empty segment in the middle is passed over and kept.
    ClotCurve withEmpty;
    withEmpty.append(0.0, 1.0, {1, 2});
    withEmpty.append(5.0, 1.0, {});
    withEmpty.append(9.0, 1.0, {3, 4});
    QTest::newRow("empty segment kept") << withEmpty << 2 << 1 << "0/1:[1,2] 5/1:[] 9/1:[4]";
    QTest::newRow("run through empty segment") << withEmpty << 1 << 2 << "0/1:[1] 5/1:[] 9/1:[4]";
    QTest::newRow("no segments") << ClotCurve() << 0 << 1 << "";
}

void tst_ClotCurve::remove()
{
    QFETCH(ClotCurve, curve);
    QFETCH(int, index);
    QFETCH(int, count);
    QFETCH(QString, expected);
    curve.remove(index, count);
    QCOMPARE(describe(curve), expected);
}

void tst_ClotCurve::emptySegmentIsNotEmptyCurve()
{
    ClotCurve curve;
    curve.append(1.0, 1.0, {});
    QVERIFY(!curve.isEmpty());
    QCOMPARE(curve.size(), 0);
}

void tst_ClotCurve::copiesAreIndependent()
{
    const ClotCurve original = twoSegments();
    const QString before = describe(original);

    ClotCurve appended = original;
    appended.append(20.0, 1.0, {9});
    ClotCurve removed = original;
    removed.remove(0, 6);
    ClotCurve replaced = original;
    QVector<ClotCurve::Segment> one{{0.0, 1.0, {42}}};
    replaced.setSegments(one);
    replaced.setType(ClotCurve::OD);

    QCOMPARE(describe(original), before);
    QCOMPARE(original.type(), ClotCurve::Raw);
    QCOMPARE(appended.size(), 9);
    QCOMPARE(removed.size(), 2);
    QCOMPARE(describe(replaced), QStringLiteral("0/1:[42]"));
}

void tst_ClotCurve::simplifiedEqualsOriginal()
{
    ClotCurve curve = twoSegments();
    curve.setType(ClotCurve::OD);
    curve.append(3.0, 1.0, {});
    const ClotCurve simple = curve.simplified();
    QCOMPARE(simple.type(), ClotCurve::OD);
    QCOMPARE(describe(simple), describe(curve));
}

void tst_ClotCurve::toTypeWithoutConversion_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("resultType");

    QTest::newRow("raw to raw") << int(ClotCurve::Raw) << int(ClotCurve::Raw)
                                << int(ClotCurve::Raw);
    QTest::newRow("od to od") << int(ClotCurve::OD) << int(ClotCurve::OD) << int(ClotCurve::OD);
    QTest::newRow("od to raw keeps od")
        << int(ClotCurve::OD) << int(ClotCurve::Raw) << int(ClotCurve::OD);
}

void tst_ClotCurve::toTypeWithoutConversion()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, resultType);
    ClotCurve curve = twoSegments();
    curve.setType(ClotCurve::PointType(from));
    const ClotCurve converted = curve.toType(ClotCurve::PointType(to));
    QCOMPARE(int(converted.type()), resultType);
    QCOMPARE(describe(converted), describe(curve));

    ClotCurve empty;
    const ClotCurve emptyOd = empty.toType(ClotCurve::OD);
    QVERIFY(emptyOd.isEmpty());
    QCOMPARE(emptyOd.type(), ClotCurve::OD);
}

void tst_ClotCurve::toTypeBaselineWindow_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("windowStart"); // b
    QTest::addColumn<int>("windowSize"); // m
    QTest::addColumn<int>("firstConverted"); // z

    QTest::newRow("start 0, step 0.1, 100 points") << 0.0 << 0.1 << 100 << 30 << 10 << 35;
    QTest::newRow("start 5, step 0.5") << 5.0 << 0.5 << 10 << 0 << 2 << 1;
    QTest::newRow("window cut by the end") << 0.0 << 0.1 << 34 << 30 << 4 << 32;
    QTest::newRow("coarse step") << 0.0 << 2.0 << 10 << 2 << 1 << 2;
    QTest::newRow("half rounds up") << 2.5 << 1.0 << 10 << 1 << 1 << 1;
}

// A segment whose values are all 1000 except the baseline window, so that
// the baseline is known and every converted value is log10(base / 1000).
void tst_ClotCurve::toTypeBaselineWindow()
{
    QFETCH(double, start);
    QFETCH(double, step);
    QFETCH(int, count);
    QFETCH(int, windowStart);
    QFETCH(int, windowSize);
    QFETCH(int, firstConverted);

    QVector<double> values(count, 1000.0);
    for (int i = windowStart; i < windowStart + windowSize; ++i)
        values[i] = 100.0 * (i - windowStart + 1);
    double base = 0.0;
    for (int i = windowStart; i < windowStart + windowSize; ++i)
        base += values[i];
    base /= windowSize;

    ClotCurve curve;
    curve.append(start, step, values);
    curve.append(50.0, 1.0, {7.0, 8.0});
    const ClotCurve od = curve.toType(ClotCurve::OD);

    QCOMPARE(od.type(), ClotCurve::OD);
    const QVector<double> converted = od.segments().first().values;
    QCOMPARE(converted.size(), count);
    for (int k = 0; k < count; ++k) {
        const double expected = k < firstConverted ? 0.0 : qMin(5.0, std::log10(base / values[k]));
        QVERIFY2(converted[k] == expected, qPrintable(QString::number(k)));
    }
    QCOMPARE(od.segments().at(1).values, QVector<double>({7.0, 8.0}));
    QCOMPARE(curve.type(), ClotCurve::Raw); // the source is untouched
    QCOMPARE(curve.segments().first().values, values);
}

void tst_ClotCurve::toTypeDensities_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("density");

    QTest::newRow("equal to baseline") << 1000.0 << 0.0;
    QTest::newRow("a tenth") << 100.0 << 1.0;
    QTest::newRow("capped at 5") << 0.001 << 5.0;
    QTest::newRow("zero") << 0.0 << 5.0;
    QTest::newRow("negative") << -3.0 << 5.0;
    QTest::newRow("density of 5 is kept") << 0.01 << 5.0;
    QTest::newRow("above baseline") << 10000.0 << -1.0;
}

// Baseline 1000 from a window at the start (start 5.0, step 0.5: b 0, m 2, z 1).
void tst_ClotCurve::toTypeDensities()
{
    QFETCH(double, value);
    QFETCH(double, density);
    ClotCurve curve;
    curve.append(5.0, 0.5, {1000.0, 1000.0, value});
    const QVector<double> od = curve.toType(ClotCurve::OD).segments().first().values;
    QCOMPARE(od.at(0), 0.0);
    QCOMPARE(od.at(1), 0.0);
    QCOMPARE(od.at(2), density);
}

void tst_ClotCurve::toTypeDegenerateSteps_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("step");

    QTest::newRow("too short for the window") << 0.0 << 0.1;
    QTest::newRow("zero step") << 0.0 << 0.0;
    QTest::newRow("NaN step") << 0.0 << std::nan("");
    QTest::newRow("tiny step") << 0.0 << 1e-300;
    QTest::newRow("huge start offset") << -1e300 << 1.0;
}

// Steps that would overflow an int index must zero the segment, not crash.
void tst_ClotCurve::toTypeDegenerateSteps()
{
    QFETCH(double, start);
    QFETCH(double, step);
    ClotCurve curve;
    curve.append(start, step, QVector<double>(20, 500.0));
    const ClotCurve od = curve.toType(ClotCurve::OD);
    QCOMPARE(od.type(), ClotCurve::OD);
    QCOMPARE(od.segments().first().values, QVector<double>(20, 0.0));
}

void tst_ClotCurve::exactBytes()
{
    ClotCurve curve;
    curve.setType(ClotCurve::OD);
    curve.append(1.0, 0.5, {2.0, 4.0});
    const QByteArray expected = QByteArray::fromHex("00000001"
                                                    "00000001"
                                                    "3FF0000000000000"
                                                    "3FE0000000000000"
                                                    "00000002"
                                                    "4000000000000000"
                                                    "4010000000000000");
    QCOMPARE(curve.toBuffer(), expected);

    // The same bytes as the toolkit's own stream writes them.
    QByteArray streamed;
    QDataStream out(&streamed, QIODevice::WriteOnly);
    out << qint32(1) << quint32(1) << 1.0 << 0.5 << quint32(2) << 2.0 << 4.0;
    QCOMPARE(streamed, expected);
    QCOMPARE(ClotCurve().toBuffer(), QByteArray::fromHex("0000000000000000"));
}

void tst_ClotCurve::bufferRoundTrip()
{
    ClotCurve curve;
    curve.setType(ClotCurve::OD);
    curve.append(0.25, 0.1, {1.5, -0.0, std::numeric_limits<double>::infinity(), 1e-310});
    curve.append(9.0, 2.0, {});
    curve.append(-3.0, 0.125, {std::nan(""), 42.0});

    const QByteArray bytes = curve.toBuffer();
    QCOMPARE(bytes.size(), 8 + (20 + 8 * 4) + 20 + (20 + 8 * 2));
    const ClotCurve back = ClotCurve::fromBuffer(bytes);
    QCOMPARE(back.type(), curve.type());
    QCOMPARE(back.toBuffer(), bytes); // bit for bit, NaN and -0.0 included
}

void tst_ClotCurve::fromBufferTruncated_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("complete"); // what the ok flag says

    ClotCurve curve;
    curve.setType(ClotCurve::OD);
    curve.append(1.0, 0.5, {2.0, 4.0});
    const QByteArray full = curve.toBuffer();

    QTest::newRow("empty") << QByteArray() << 0 << "" << false;
    QTest::newRow("type only") << full.left(4) << 1 << "" << false;
    QTest::newRow("header only") << full.left(8) << 1 << "" << false;
    QTest::newRow("start only") << full.left(16) << 1 << "1/0:[]" << false;
    QTest::newRow("one value") << full.left(36) << 1 << "1/0.5:[2]" << false;
    QTest::newRow("half a value") << full.left(40) << 1 << "1/0.5:[2]" << false;
    QTest::newRow("whole") << full << 1 << "1/0.5:[2,4]" << true;
    QTest::newRow("trailing bytes ignored")
        << full + QByteArray(5, 'x') << 1 << "1/0.5:[2,4]" << false;
    QTest::newRow("no curve at all") << QByteArray::fromHex("0000000000000000") << 0 << "" << true;
    // An enum value the type cannot hold gives an empty curve, with a warning.
    QTest::newRow("unknown point type")
        << QByteArray::fromHex("00000002") + full.mid(4) << 0 << "" << false;
}

void tst_ClotCurve::fromBufferTruncated()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, type);
    QFETCH(QString, expected);
    QFETCH(bool, complete);
    bool ok = !complete;
    const ClotCurve curve = ClotCurve::fromBuffer(bytes, &ok);
    QCOMPARE(int(curve.type()), type);
    QCOMPARE(describe(curve), expected);
    QCOMPARE(ok, complete);
    QCOMPARE(describe(ClotCurve::fromBuffer(bytes)), expected);
}

// A curve whose byte form would not fit into one buffer gives an empty one
// with a warning instead of writing past it. The segments share one vector of
// values, so the test needs no gigabytes of its own.
void tst_ClotCurve::toBufferTooLarge()
{
    const QVector<double> values(1 << 20, 1.0); // 8 MiB in the byte form
    ClotCurve curve;
    for (int i = 0; i < 257; ++i)
        curve.append(0.0, 1.0, values);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("does not fit")));
    QVERIFY(curve.toBuffer().isEmpty());
}

void tst_ClotCurve::fromBufferHostileCounts_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("maxSegments");

    QTest::newRow("segment count 0xFFFFFFFF in 12 bytes")
        << QByteArray::fromHex("00000000FFFFFFFF00000000") << 1;
    QTest::newRow("value count 0xFFFFFFFF") << QByteArray::fromHex("0000000000000001"
                                                                   "3FF0000000000000"
                                                                   "3FF0000000000000"
                                                                   "FFFFFFFF"
                                                                   "4000000000000000")
                                            << 1;
    QTest::newRow("segment count 0x7FFFFFFF, 4 KiB of zeros")
        << QByteArray::fromHex("000000007FFFFFFF") + QByteArray(4096, '\0') << 4096 / 20 + 1;
}

void tst_ClotCurve::fromBufferHostileCounts()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, maxSegments);
    QElapsedTimer timer;
    timer.start();
    const ClotCurve curve = ClotCurve::fromBuffer(bytes);
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY(curve.segments().size() <= maxSegments);
    QVERIFY(curve.size() <= bytes.size() / 8);
}

void tst_ClotCurve::fromBufferRandomBytes()
{
    // Most random buffers start with no known point type; that warning is not
    // what this test looks at.
    QLoggingCategory::setFilterRules(QStringLiteral("coagulation.core.warning=false"));
    QRandomGenerator random(20261207);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(int(random.bounded(200)), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(random.bounded(256));
        const ClotCurve curve = ClotCurve::fromBuffer(bytes);
        QVERIFY(curve.size() <= bytes.size() / 8);
        // Whatever was read serialises to no more bytes than were given,
        // plus the fields a short buffer lacked.
        QVERIFY(curve.toBuffer().size() <= bytes.size() + 28);
    }
}

QTEST_APPLESS_MAIN(tst_ClotCurve)
#include "tst_clotcurve.moc"
