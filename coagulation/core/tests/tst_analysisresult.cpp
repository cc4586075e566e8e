#include "analysisresult.h"

#include <QtTest/QtTest>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

using R = AnalysisResult;
Q_DECLARE_METATYPE(AnalysisResult::ErrorCode)

class tst_AnalysisResult : public QObject
{
    Q_OBJECT

private slots:
    void defaultSharesEmptyBlock();
    void classification_data();
    void classification();
    void codeConstructorsDoNotClassify();
    void errorTexts_data();
    void errorTexts();
    void errorTextLifecycle();
    void detachLeavesOriginal();
    void everySetterDetaches();
    void flagHelpers();
    void flagsToError();
    void equality_data();
    void equality();
    void numberComparison_data();
    void numberComparison();
    void specialConstants();
    void copiesAcrossThreads();
};

void tst_AnalysisResult::defaultSharesEmptyBlock()
{
    const R a, b;
    QVERIFY(a.isCopyOf(b));
    QVERIFY(a.isNull());
    QVERIFY(!a.isValid());
    QCOMPARE(a.value(), 0.0);
    QCOMPARE(a.flags(), 0);
    QCOMPARE(a.errorText(), QString::fromUtf8("结果为空"));
    QVERIFY(a.curve().isEmpty());

    // Changing one default result must never reach the shared empty block.
    R c;
    c.setFlags(0x8000);
    QVERIFY(!c.isCopyOf(a));
    QCOMPARE(R().flags(), 0);
    QVERIFY(R().isCopyOf(a));
}

void tst_AnalysisResult::classification_data()
{
    QTest::addColumn<double>("input");
    QTest::addColumn<R::ErrorCode>("error");
    QTest::addColumn<double>("value");

    QTest::newRow("tiny positive is null") << 1e-17 << R::NullResult << 0.0;
    QTest::newRow("tiny negative is null") << -1e-17 << R::NullResult << 0.0;
    QTest::newRow("1e-15 is a number") << 1e-15 << R::ValidNumber << 1e-15;
    QTest::newRow("epsilon itself is a number")
        << std::numeric_limits<double>::epsilon() << R::ValidNumber
        << std::numeric_limits<double>::epsilon();
    QTest::newRow("999.8995 not clotted") << 999.8995 << R::NotClotted << 999.9;
    QTest::newRow("999.9005 not clotted") << 999.9005 << R::NotClotted << 999.9;
    QTest::newRow("999.898 is a number") << 999.898 << R::ValidNumber << 999.898;
    QTest::newRow("plain") << 12.5 << R::ValidNumber << 12.5;
}

void tst_AnalysisResult::classification()
{
    QFETCH(double, input);
    QFETCH(R::ErrorCode, error);
    QFETCH(double, value);

    const R constructed(input);
    QCOMPARE(constructed.error(), error);
    QCOMPARE(constructed.value(), value);

    R set(R::NoStandardCurve);
    set.setFlags(0x20);
    set.setValue(input);
    QCOMPARE(set.error(), error);
    QCOMPARE(set.value(), value);
    QCOMPARE(set.flags(), 0x20);
}

void tst_AnalysisResult::codeConstructorsDoNotClassify()
{
    const R notClotted(R::ValidNumber, 999.9);
    QCOMPARE(notClotted.error(), R::ValidNumber);
    QCOMPARE(notClotted.value(), 999.9);
    const R zero(R::ValidNumber, 0.0);
    QVERIFY(zero.isValidNumber());
    QVERIFY(!zero.isNull());

    const R nan(std::nan(""));
    QCOMPARE(nan.error(), R::ValidNumber);
    QVERIFY(std::isnan(nan.value()));

    // Fresh blocks, never the shared empty one.
    QVERIFY(!R(R::NullResult).isCopyOf(R()));
}

void tst_AnalysisResult::errorTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    const char *messages[] = {
        "结果为空",     "无效的值",         "未知错误",       "无标准曲线",
        "标准曲线无效", "标准曲线设置错误", "无效的计算方法", "计算所需的参数不存在"};
    for (int code = 0; code < 8; ++code)
        QTest::addRow("code %d", code) << code << QString::fromUtf8(messages[code]);
    for (int code : {8, 9, 10, 11, 12, -1})
        QTest::addRow("code %d", code) << code << QString();
}

void tst_AnalysisResult::errorTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(R(R::ErrorCode(code)).errorText(), text);
}

void tst_AnalysisResult::errorTextLifecycle()
{
    R r(R::NoStandardCurve);
    r.setErrorText(QStringLiteral("x"));
    QCOMPARE(r.error(), R::UnknownError);
    QCOMPARE(r.errorText(), QStringLiteral("x"));
    r.setValue(5.0);
    QCOMPARE(r.error(), R::ValidNumber);
    QCOMPARE(r.errorText(), QStringLiteral("x"));
    r.clearErrorText();
    QCOMPARE(r.errorText(), QString());
    QCOMPARE(r.error(), R::ValidNumber);

    r.setErrorText(QStringLiteral("y"));
    r.setError(R::InvalidValue);
    QCOMPARE(r.errorText(), QString::fromUtf8("无效的值"));
}

void tst_AnalysisResult::detachLeavesOriginal()
{
    R original(7.5);
    original.setFlags(0x8000);
    original.setErrorText(QStringLiteral("kept"));
    ClotCurve curve;
    curve.append(0.0, 1.0, {1, 2, 3});
    original.setCurve(curve);

    R copy = original;
    QVERIFY(copy.isCopyOf(original));
    copy.setOD(1.25);
    QVERIFY(!copy.isCopyOf(original));
    QCOMPARE(original.od(), 0.0);
    QCOMPARE(copy.od(), 1.25);
    // The detached block carries every field over.
    QCOMPARE(copy.flags(), 0x8000);
    QCOMPARE(copy.errorText(), QStringLiteral("kept"));
    QCOMPARE(copy.curve().size(), 3);

    // A sole owner is changed in place.
    R alone(1.0);
    R probe = alone;
    probe = R();
    alone.setId(3);
    QCOMPARE(alone.id(), 3);

    // Self-assignment keeps the block alive.
    R &self = copy;
    copy = self;
    QCOMPARE(copy.od(), 1.25);
}

void tst_AnalysisResult::everySetterDetaches()
{
    using Setter = std::function<void(R &)>;
    const QList<QPair<const char *, Setter>> setters = {
        {"setValue",
         [](R &r) {
             r.setValue(2.0);
         }},
        {"setValue code",
         [](R &r) {
             r.setValue(R::LessThan, 2.0);
         }},
        {"setError",
         [](R &r) {
             r.setError(R::InvalidValue);
         }},
        {"setErrorText",
         [](R &r) {
             r.setErrorText(QStringLiteral("e"));
         }},
        {"clearErrorText",
         [](R &r) {
             r.clearErrorText();
         }},
        {"flagsToError",
         [](R &r) {
             r.flagsToError();
         }},
        {"setFlags",
         [](R &r) {
             r.setFlags(8);
         }},
        {"setFlag",
         [](R &r) {
             r.setFlag(kr::DilutionResultFlag, true);
         }},
        {"setManualTest",
         [](R &r) {
             r.setManualTest(true);
         }},
        {"setId",
         [](R &r) {
             r.setId(1);
         }},
        {"setCh",
         [](R &r) {
             r.setCh(1);
         }},
        {"setVersion",
         [](R &r) {
             r.setVersion(1);
         }},
        {"setRecordId",
         [](R &r) {
             r.setRecordId(1);
         }},
        {"setQcRecordId",
         [](R &r) {
             r.setQcRecordId(1);
         }},
        {"setOD",
         [](R &r) {
             r.setOD(1.0);
         }},
        {"setCurve",
         [](R &r) {
             r.setCurve(ClotCurve());
         }},
    };
    const R original(R::ValidNumber, 1.0);
    for (const auto &setter : setters) {
        R copy = original;
        setter.second(copy);
        QVERIFY2(!copy.isCopyOf(original), setter.first);
        QCOMPARE(original.error(), R::ValidNumber);
        QCOMPARE(original.flags(), 0);
        QCOMPARE(original.id(), 0);
    }
}

void tst_AnalysisResult::flagHelpers()
{
    R r(1.0);
    r.setFlags(kr::LowerReportLimitFlag);
    QVERIFY(r.testFlag(kr::LowerReportLimitFlag | kr::UpperReportLimitFlag));
    QVERIFY(!r.testFlag(kr::UpperMarkLimitFlag));

    r.setFlag(kr::LowerMarkLimitFlag | kr::DilutionResultFlag, true);
    QCOMPARE(r.flags(), 0x0016);
    r.setFlag(kr::LowerReportLimitFlag | kr::DilutionResultFlag, false);
    QCOMPARE(r.flags(), 0x0010);

    // Manual test and manual input are different bits.
    r.setManualTest(true);
    QVERIFY(r.isManualTest());
    QVERIFY(!r.testFlag(kr::ManualInputFlag));
    r.setManualTest(false);
    QCOMPARE(r.flags(), 0x0010);

    QCOMPARE(R::errorCode(0x000C), R::GreaterThan);
    QCOMPARE(R::errorCode(0x0004), R::LessThan);
    QCOMPARE(R::errorCode(0x8000), R::ValidNumber);
    QCOMPARE(int(R::errorFlags(R::LessThan)), 0x0004);
    QCOMPARE(int(R(R::GreaterThan, 1.0).errorFlags()), 0x0008);
    QCOMPARE(int(R::errorFlags(R::NotClotted)), 0);
    QCOMPARE(R::opposite(R::LessThan), R::GreaterThan);
    QCOMPARE(R::opposite(R::GreaterThan), R::LessThan);
    QCOMPARE(R::opposite(R::NotClotted), R::NotClotted);
}

void tst_AnalysisResult::flagsToError()
{
    R valid(3.0);
    valid.setFlags(0x0008);
    valid.setErrorText(QStringLiteral("gone"));
    valid.setValue(3.0);
    valid.flagsToError();
    QCOMPARE(valid.error(), R::GreaterThan);
    QCOMPARE(valid.errorText(), QString());

    const R code3(R::NoStandardCurve);
    R copy = code3;
    copy.flagsToError();
    QCOMPARE(copy.error(), R::NoStandardCurve);
    QVERIFY(copy.isCopyOf(code3)); // nothing to do, no detach
}

void tst_AnalysisResult::equality_data()
{
    QTest::addColumn<R>("a");
    QTest::addColumn<R>("b");
    QTest::addColumn<bool>("equal");

    QTest::newRow("code 3, different numbers")
        << R(R::NoStandardCurve, 1.0) << R(R::NoStandardCurve, 2.0) << true;
    R flagged(1.0);
    flagged.setFlags(0x8000);
    QTest::newRow("flags ignored") << R(1.0) << flagged << true;
    QTest::newRow("codes 9 and 10") << R(R::ValidNumber, 5.0) << R(R::LessThan, 5.0) << false;
    QTest::newRow("different numbers") << R(1.0) << R(2.0) << false;
    QTest::newRow("null and null") << R() << R(R::NullResult, 3.0) << true;
    const R nan(std::nan(""));
    QTest::newRow("shared NaN block") << nan << nan << true;
    QTest::newRow("distinct NaN blocks") << nan << R(std::nan("")) << false;
}

void tst_AnalysisResult::equality()
{
    QFETCH(R, a);
    QFETCH(R, b);
    QFETCH(bool, equal);
    QCOMPARE(a == b, equal);
    QCOMPARE(b == a, equal);
}

void tst_AnalysisResult::numberComparison_data()
{
    QTest::addColumn<R>("result");
    QTest::addColumn<double>("x");
    QTest::addColumn<bool>("below");
    QTest::addColumn<bool>("above");

    const double nan = std::nan("");
    QTest::newRow("valid below") << R(4.0) << 5.0 << true << false;
    QTest::newRow("valid equal") << R(5.0) << 5.0 << false << false;
    QTest::newRow("valid above") << R(6.0) << 5.0 << false << true;
    QTest::newRow("less-than at its number") << R(R::LessThan, 5.0) << 5.0 << true << false;
    QTest::newRow("less-than under 4.9") << R(R::LessThan, 5.0) << 4.9 << false << false;
    QTest::newRow("less-than over 1") << R(R::LessThan, 5.0) << 1.0 << false << false;
    QTest::newRow("greater-than at its number") << R(R::GreaterThan, 5.0) << 5.0 << false << true;
    QTest::newRow("greater-than under 100") << R(R::GreaterThan, 5.0) << 100.0 << false << false;
    QTest::newRow("null") << R() << 1.0 << false << false;
    QTest::newRow("not clotted") << R(999.9) << 1000.0 << false << false;
    QTest::newRow("error with number") << R(R::NoStandardCurve, 1.0) << 5.0 << false << false;
    QTest::newRow("NaN number") << R(5.0) << nan << false << false;
    QTest::newRow("NaN result") << R(nan) << 5.0 << false << false;
    QTest::newRow("NaN less-than") << R(R::LessThan, nan) << 5.0 << false << false;
    QTest::newRow("NaN greater-than") << R(R::GreaterThan, 5.0) << nan << false << false;
}

void tst_AnalysisResult::numberComparison()
{
    QFETCH(R, result);
    QFETCH(double, x);
    QFETCH(bool, below);
    QFETCH(bool, above);
    QCOMPARE(result < x, below);
    QCOMPARE(x > result, below);
    QCOMPARE(result > x, above);
    QCOMPARE(x < result, above);
}

void tst_AnalysisResult::specialConstants()
{
    QCOMPARE(qFromUnaligned<quint64>(&R::notClottedValue), Q_UINT64_C(0x408F3F3333333333));
    QCOMPARE(R::nullValue, 0.0);
    QCOMPARE(R::invalidOD, 0.0);
    QVERIFY(R::isInvalidODValue(-1e-17));
    QVERIFY(!R::isInvalidODValue(1e-15));
    QVERIFY(R::isNotClottedValue(999.9009));
    QVERIFY(!R::isNotClottedValue(999.9011));
}

void tst_AnalysisResult::copiesAcrossThreads()
{
    // Handles that share one block are copied, detached and dropped in several
    // threads. This thread lets go of `dropped` at once, so whichever thread
    // drops it last frees it, after every other thread's last read of it;
    // `kept` is held here throughout, so its count must come back to one.
    // std::thread, because ThreadSanitizer sees what join() orders.
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    R kept(42.0);
    kept.setFlags(0x20);
    {
        const R dropped(7.0);
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([kept, dropped, t, &wrong] {
                for (int i = 0; i < 20000; ++i) {
                    R copy = kept;
                    R other;
                    other = copy;
                    other.setOD(t + i);
                    if (copy.value() != 42.0 || copy.od() != 0.0 || other.od() != t + i
                        || other.flags() != 0x20 || !copy.isCopyOf(kept))
                        ++wrong;
                    const R last = dropped;
                    if (last.value() != 7.0)
                        ++wrong;
                }
            });
        }
    }
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(wrong.load(), 0);
    R copy = kept;
    copy.setOD(1.0); // must detach: the count is back to two, not one
    QVERIFY(!copy.isCopyOf(kept));
    QCOMPARE(kept.od(), 0.0);
}

QTEST_APPLESS_MAIN(tst_AnalysisResult)
#include "tst_analysisresult.moc"
