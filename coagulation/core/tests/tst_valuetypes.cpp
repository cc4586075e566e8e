// Results and curves as the application moves them around: through queued
// connections from the measurement thread, inside QVariants saved to streams,
// and dragged between item models.
#include "analysisresult.h"

#include <QtCore/QDataStream>
#include <QtCore/QMimeData>
#include <QtGui/QStandardItemModel>
#include <QtTest/QtTest>

#include <cmath>
#include <limits>
#include <thread>

namespace {

ClotCurve twoSegmentCurve()
{
    ClotCurve curve;
    curve.append(0.0, 0.1, {1200.0, 1190.5, -0.0, std::numeric_limits<double>::infinity()});
    curve.append(20.0, 0.5, {});
    curve.setType(ClotCurve::OD);
    return curve;
}

AnalysisResult fullResult()
{
    AnalysisResult result(AnalysisResult::LessThan, 12.5);
    result.setErrorText(QStringLiteral("手工修改"));
    result.setValue(AnalysisResult::LessThan, 12.5);
    result.setFlags(kr::ManualInputFlag | kr::LowerReportLimitFlag | 0x4000);
    result.setOD(0.731);
    result.setCurve(twoSegmentCurve());
    result.setId(7);
    result.setCh(3);
    result.setVersion(2);
    result.setRecordId(-11);
    result.setQcRecordId(99);
    return result;
}

// Every field, the free text and the curve included: operator== compares
// code and number only.
void compareAllFields(const AnalysisResult &actual, const AnalysisResult &expected)
{
    QCOMPARE(actual.error(), expected.error());
    QCOMPARE(QByteArray::number(actual.value(), 'g', 17),
             QByteArray::number(expected.value(), 'g', 17));
    QCOMPARE(actual.od(), expected.od());
    QCOMPARE(actual.flags(), expected.flags());
    QCOMPARE(actual.errorText(), expected.errorText());
    QVERIFY(actual.curve() == expected.curve());
    QCOMPARE(actual.id(), expected.id());
    QCOMPARE(actual.ch(), expected.ch());
    QCOMPARE(actual.version(), expected.version());
    QCOMPARE(actual.recordId(), expected.recordId());
    QCOMPARE(actual.qcRecordId(), expected.qcRecordId());
}

} // namespace

// The measurement side: an object whose signal is emitted from its own thread.
class Measurement : public QObject
{
    Q_OBJECT
signals:
    void resultReady(AnalysisResult result);
};

class ResultView : public QObject
{
    Q_OBJECT
public:
    QList<AnalysisResult> received;
public slots:
    void showResult(AnalysisResult result) { received << result; }
};

class tst_ValueTypes : public QObject
{
    Q_OBJECT

private slots:
    void queuedFromWorkerThread();
    void variantThroughStream_data();
    void variantThroughStream();
    void corruptStreamIsReported();
    void variantEquality();
    void dragIntoStandardItemModel();
    void moves();
};

// Connected the Qt 4 way, with no registration by the application: every
// result emitted on the worker thread must reach the view.
void tst_ValueTypes::queuedFromWorkerThread()
{
    Measurement measurement;
    ResultView view;
    QVERIFY(QObject::connect(&measurement, SIGNAL(resultReady(AnalysisResult)), &view,
                             SLOT(showResult(AnalysisResult))));
    const AnalysisResult sent = fullResult();
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            emit measurement.resultReady(sent);
    });
    worker.join();
    QTRY_COMPARE(view.received.size(), 3);
    compareAllFields(view.received.last(), sent);
}

void tst_ValueTypes::variantThroughStream_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("streamVersion");

    AnalysisResult notANumber(std::numeric_limits<double>::quiet_NaN());
    notANumber.setFlag(kr::UpperMarkLimitFlag);
    for (const int version : {int(QDataStream::Qt_5_15), int(QDataStream::Qt_4_8)}) {
        const char *stream = version == QDataStream::Qt_4_8 ? "Qt 4.8" : "Qt 5.15";
        QTest::addRow("full result, %s", stream) << QVariant::fromValue(fullResult()) << version;
        QTest::addRow("default result, %s", stream)
            << QVariant::fromValue(AnalysisResult()) << version;
        QTest::addRow("NaN result, %s", stream) << QVariant::fromValue(notANumber) << version;
        QTest::addRow("curve, %s", stream) << QVariant::fromValue(twoSegmentCurve()) << version;
        QTest::addRow("empty curve, %s", stream) << QVariant::fromValue(ClotCurve()) << version;
    }
}

void tst_ValueTypes::variantThroughStream()
{
    QFETCH(QVariant, value);
    QFETCH(int, streamVersion);

    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(streamVersion);
        out.setFloatingPointPrecision(QDataStream::SinglePrecision); // must not cut doubles
        out << value;
        QCOMPARE(out.status(), QDataStream::Ok);
    }
    QDataStream in(bytes);
    in.setVersion(streamVersion);
    QVariant loaded;
    in >> loaded;
    QCOMPARE(in.status(), QDataStream::Ok);
    QVERIFY(in.atEnd());
    QCOMPARE(loaded.userType(), value.userType());
    if (value.canConvert<AnalysisResult>())
        compareAllFields(loaded.value<AnalysisResult>(), value.value<AnalysisResult>());
    else
        QVERIFY(loaded.value<ClotCurve>() == value.value<ClotCurve>());
}

void tst_ValueTypes::corruptStreamIsReported()
{
    const auto load = [](const QByteArray &bytes) {
        QDataStream in(bytes);
        AnalysisResult result(5.0);
        in >> result;
        return std::make_pair(in.status(), result);
    };
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << fullResult();
    }
    QCOMPARE(load(bytes).first, QDataStream::Ok);

    QByteArray otherVersion = bytes;
    otherVersion[0] = 2;
    QCOMPARE(load(otherVersion).first, QDataStream::ReadCorruptData);
    QVERIFY(load(otherVersion).second.isNull());
    QCOMPARE(load(bytes.left(bytes.size() - 3)).first, QDataStream::ReadPastEnd);

    // A curve whose bytes do not form one complete curve.
    QByteArray badCurve;
    {
        QDataStream out(&badCurve, QIODevice::WriteOnly);
        out << QByteArray("\0\0\0\x07", 4);
    }
    QDataStream in(badCurve);
    ClotCurve curve = twoSegmentCurve();
    in >> curve;
    QCOMPARE(in.status(), QDataStream::ReadCorruptData);
    QVERIFY(curve.isEmpty());
}

void tst_ValueTypes::variantEquality()
{
    AnalysisResult other = fullResult();
    other.setFlags(0); // flags do not take part in equality
    QCOMPARE(QVariant::fromValue(fullResult()), QVariant::fromValue(other));
    QVERIFY(QVariant::fromValue(fullResult()) != QVariant::fromValue(AnalysisResult(12.5)));
    QCOMPARE(QVariant::fromValue(twoSegmentCurve()), QVariant::fromValue(twoSegmentCurve()));
    QVERIFY(QVariant::fromValue(twoSegmentCurve()) != QVariant::fromValue(ClotCurve()));
}

// A result held in an item role, dragged from one view's model into another's.
void tst_ValueTypes::dragIntoStandardItemModel()
{
    QStandardItemModel source, target;
    auto *item = new QStandardItem(QStringLiteral("M< 12.5"));
    item->setData(QVariant::fromValue(fullResult()), Qt::UserRole + 1);
    source.appendRow(item);

    const std::unique_ptr<QMimeData> mime(source.mimeData({source.index(0, 0)}));
    QVERIFY(mime);
    QVERIFY(target.dropMimeData(mime.get(), Qt::CopyAction, 0, 0, QModelIndex()));
    const QVariant dropped = target.index(0, 0).data(Qt::UserRole + 1);
    QVERIFY(dropped.canConvert<AnalysisResult>());
    compareAllFields(dropped.value<AnalysisResult>(), fullResult());
}

void tst_ValueTypes::moves()
{
    AnalysisResult a = fullResult();
    const AnalysisResult copy = a;
    AnalysisResult b(std::move(a));
    QVERIFY(b.isCopyOf(copy));
    a = AnalysisResult(3.0); // a moved-from result takes a new value
    QCOMPARE(a.value(), 3.0);
    b = std::move(a);
    QCOMPARE(b.value(), 3.0);
    QVERIFY(a.isCopyOf(copy)); // move assignment swaps
}

QTEST_MAIN(tst_ValueTypes)
#include "tst_valuetypes.moc"
