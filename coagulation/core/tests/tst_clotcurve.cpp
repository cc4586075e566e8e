#include "analysisresult.h"

#include <QtTest/QtTest>

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

QTEST_APPLESS_MAIN(tst_ClotCurve)
#include "tst_clotcurve.moc"
