#include "analysisresult.h"
#include "curvelistmodel.h"
#include "curveplot.h"
#include "curveviewerwindow.h"
#include "messageboxanswerer.h"
#include "profile.h"
#include "testinstallation.h"

#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtTest/QtTest>
#include <QtWidgets/QTableView>
// QAction moved from the widgets module to the GUI module in Qt 6.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtGui/QAction>
#else
#include <QtWidgets/QAction>
#endif

#include <cmath>
#include <memory>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
QT_CHARTS_USE_NAMESPACE
#endif

// Two segments of a clot forming, with the baseline window in the first.
static ClotCurve rawCurve()
{
    QVector<double> fine, coarse;
    for (int i = 0; i < 100; ++i)
        fine << 1000.0 - 600.0 / (1.0 + std::exp(-(i * 0.1 - 6.0) * 2.0));
    for (int i = 0; i < 10; ++i)
        coarse << 400.0 - i;
    ClotCurve curve;
    curve.append(0.0, 0.1, fine);
    curve.append(10.0, 0.5, coarse);
    return curve;
}

static ClotCurve oneSegment(const QVector<double> &values, ClotCurve::PointType type)
{
    ClotCurve curve;
    curve.setType(type);
    curve.append(0.0, 0.5, values);
    return curve;
}

// Every texts a plot shows: its series' names and its axes' titles.
static QStringList seriesNames(const CurvePlot *plot)
{
    QStringList names;
    for (const QAbstractSeries *series : plot->findChild<QChartView *>()->chart()->series())
        names << series->name();
    return names;
}

static QList<QValueAxis *> valueAxes(const CurvePlot *plot, Qt::Orientation orientation)
{
    QList<QValueAxis *> axes;
    for (QAbstractAxis *axis : plot->findChild<QChartView *>()->chart()->axes(orientation))
        axes << qobject_cast<QValueAxis *>(axis);
    return axes;
}

class tst_CurveViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void listsStoredRows();
    void newestRowFirst();
    void plotsRow_data();
    void plotsRow();
    void storedBytes_data();
    void storedBytes();
    void valuesBeyondTheAxes_data();
    void valuesBeyondTheAxes();
    void otherConnectionWritesWhileListed();
    void noCurveTable_data();
    void noCurveTable();
    void englishTexts();

private:
    std::unique_ptr<TestInstallation> m_inst;
    std::unique_ptr<CurveViewerWindow> m_window;
    QByteArray m_truncated;
};

void tst_CurveViewer::initTestCase()
{
    m_inst.reset(new TestInstallation);
    QVERIFY(m_inst->create());
    m_inst->enter();
    MessageBoxAnswerer answerer;
    QVERIFY(Profile::instance().dataDatabase().isOpen());
    QVERIFY(answerer.seen.isEmpty());

    rawCurve().save(4711, QStringLiteral("PT"), 1);
    oneSegment({1.0, 0.5, 0.25}, ClotCurve::OD).save(4712, QStringLiteral("APTT"), 2);
    // A curve cut short by one byte, which fromBuffer alone would take.
    m_truncated = rawCurve().toBuffer();
    m_truncated.chop(1);
    QVERIFY(m_inst->execSql(
        QStringLiteral("data.db"),
        QStringLiteral("insert into curve (patientId, item, version, curve) values(?, ?, ?, ?)"),
        {4713, QStringLiteral("FIB"), 1, m_truncated}));

    m_window.reset(new CurveViewerWindow(Profile::instance().dataDatabase()));
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_CurveViewer::cleanupTestCase()
{
    m_window.reset();
    m_inst.reset();
}

void tst_CurveViewer::listsStoredRows()
{
    const CurveListModel *model = m_window->model();
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->columnCount(), int(CurveListModel::ColumnCount));
    const int rawBytes = rawCurve().toBuffer().size();
    const QList<QVariantList> expected = {
        {1, 4711, "PT", 1, rawBytes},
        {2, 4712, "APTT", 2, 8 + 20 + 3 * 8},
        {3, 4713, "FIB", 1, rawBytes - 1},
    };
    for (int row = 0; row < expected.size(); ++row) {
        for (int column = 0; column < CurveListModel::ColumnCount; ++column) {
            QCOMPARE(model->index(row, column).data().toString(), expected[row][column].toString());
        }
    }
    QCOMPARE(
        model->headerData(CurveListModel::SampleColumn, Qt::Horizontal, Qt::ToolTipRole).toString(),
        QStringLiteral("patientId"));
    QCOMPARE(model->curveBytes(2), m_truncated);
    QCOMPARE(model->curveBytes(3), QByteArray());
}

void tst_CurveViewer::newestRowFirst()
{
    // Opened on the newest row, the undecodable one: a message, no crash.
    QCOMPARE(m_window->view()->currentIndex().row(), 2);
    QVERIFY(m_window->plot()->message().contains(QString::number(m_truncated.size())));
    QVERIFY(!m_window->plot()->findChild<QChartView *>()->isVisible());
}

void tst_CurveViewer::plotsRow_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("series");
    QTest::addColumn<int>("verticalAxes");

    // A raw curve shows each raw segment and the density of the first one; a
    // curve stored as density has no raw signal left to show.
    QTest::newRow("raw, two segments")
        << 0 << QStringList{"原始信号，第 1 段", "原始信号，第 2 段", "光密度，第 1 段"} << 2;
    QTest::newRow("density, one segment") << 1 << QStringList{"光密度，第 1 段"} << 1;
    QTest::newRow("undecodable") << 2 << QStringList() << 0;
    QTest::newRow("raw again") << 0
                               << QStringList{"原始信号，第 1 段", "原始信号，第 2 段",
                                              "光密度，第 1 段"}
                               << 2;
}

void tst_CurveViewer::plotsRow()
{
    QFETCH(int, row);
    QFETCH(QStringList, series);
    QFETCH(int, verticalAxes);

    m_window->view()->setCurrentIndex(m_window->model()->index(row, 0));
    const CurvePlot *plot = m_window->plot();
    QCOMPARE(plot->findChild<QChartView *>()->isVisible(), !series.isEmpty());
    QCOMPARE(plot->message().isEmpty(), !series.isEmpty());
    if (series.isEmpty())
        return;
    QCOMPARE(seriesNames(plot), series);
    QCOMPARE(valueAxes(plot, Qt::Vertical).size(), verticalAxes);
    QCOMPARE(
        plot->findChild<QChartView *>()->chart()->title(),
        QStringLiteral("样本 %1，项目 %2，版本 %3")
            .arg(m_window->model()->index(row, CurveListModel::SampleColumn).data().toString(),
                 m_window->model()->index(row, CurveListModel::TestColumn).data().toString(),
                 m_window->model()->index(row, CurveListModel::VersionColumn).data().toString()));
}

void tst_CurveViewer::storedBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");

    const QByteArray raw = rawCurve().toBuffer();
    QTest::newRow("raw") << raw << QString();
    QTest::newRow("density") << rawCurve().toType(ClotCurve::OD).toBuffer() << QString();
    QTest::newRow("nothing stored") << QByteArray() << "没有保存曲线";
    QTest::newRow("one byte short") << raw.left(raw.size() - 1) << "不是一条完整的曲线";
    QTest::newRow("one byte more") << raw + '\0' << "不是一条完整的曲线";
    QTest::newRow("counts beyond the bytes") << QByteArray::fromHex("00000000"
                                                                    "ffffffff"
                                                                    "3ff0000000000000")
                                             << "不是一条完整的曲线";
    QTest::newRow("unknown point type") << QByteArray::fromHex("00000007"
                                                               "00000000")
                                        << "未知的点类型 7";
    QTest::newRow("no segments") << QByteArray::fromHex("00000000"
                                                        "00000000")
                                 << "曲线没有点";
    QTest::newRow("a segment without points")
        << oneSegment({}, ClotCurve::Raw).toBuffer() << "曲线没有点";
    QTest::newRow("no value a number")
        << oneSegment({std::nan(""), qInf()}, ClotCurve::OD).toBuffer() << "没有可以绘制的点";
}

void tst_CurveViewer::storedBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);

    CurvePlot plot;
    QCOMPARE(plot.setStoredCurve(bytes), message.isEmpty());
    QVERIFY2(plot.message().contains(message), qPrintable(plot.message()));
    QCOMPARE(plot.message().isEmpty(), message.isEmpty());
}

void tst_CurveViewer::valuesBeyondTheAxes_data()
{
    QTest::addColumn<ClotCurve>("curve");
    QTest::addColumn<QList<int>>("points");

    const double nan = std::nan("");
    // A zero baseline makes the density minus infinity from the middle of the
    // baseline window on: those points are left out.
    QTest::newRow("zero baseline")
        << oneSegment(QVector<double>(20, 0.0), ClotCurve::Raw) << QList<int>{20, 7};
    QTest::newRow("not a number") << oneSegment({1.0, nan, 3.0, -qInf()}, ClotCurve::OD)
                                  << QList<int>{2};
    QTest::newRow("ends of the double range")
        << oneSegment({-1.7e308, 1.7e308, 1e-308}, ClotCurve::OD) << QList<int>{3};
    QTest::newRow("one value") << oneSegment({42.0}, ClotCurve::OD) << QList<int>{1};
    QTest::newRow("values a hair apart")
        << oneSegment({1.0, 1.0000000000000002}, ClotCurve::OD) << QList<int>{2};
    QTest::newRow("zero from below")
        << oneSegment({-0.0, -0.3, 0.3}, ClotCurve::OD) << QList<int>{3};
}

void tst_CurveViewer::valuesBeyondTheAxes()
{
    QFETCH(ClotCurve, curve);
    QFETCH(QList<int>, points);

    CurvePlot plot;
    plot.resize(600, 400);
    plot.setCurve(curve);
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    QVERIFY(!plot.grab().isNull());

    QCOMPARE(plot.message(), QString());
    QList<int> counts;
    for (const QAbstractSeries *series : plot.findChild<QChartView *>()->chart()->series())
        counts << qobject_cast<const QLineSeries *>(series)->count();
    QCOMPARE(counts, points);
    for (Qt::Orientation orientation : {Qt::Horizontal, Qt::Vertical}) {
        for (QValueAxis *axis : valueAxes(&plot, orientation)) {
            QVERIFY(std::isfinite(axis->min()) && std::isfinite(axis->max()));
            QVERIFY(axis->min() <= axis->max());
            // Labels are round numbers, zero among them without a sign.
            const QStringList labels = qobject_cast<QCategoryAxis *>(axis)->categoriesLabels();
            for (const QString &label : labels) {
                QVERIFY2(label.size() <= 12 && (label.toDouble() != 0 || label == "0"),
                         qPrintable(label));
            }
        }
    }
}

void tst_CurveViewer::otherConnectionWritesWhileListed()
{
    // The application saves curves while the viewer is open: the list must
    // hold no lock that keeps a writer waiting.
    m_window->view()->setCurrentIndex(m_window->model()->index(1, 0));
    const qint64 selected = m_window->model()->rowId(1);
    {
        QSqlDatabase writer =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
        writer.setDatabaseName(m_inst->filePath(QStringLiteral("data.db")));
        writer.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=100"));
        QVERIFY(writer.open());
        QSqlQuery insert(writer);
        QVERIFY(insert.prepare(QStringLiteral(
            "insert into curve (patientId, item, version, curve) values(?, ?, ?, ?)")));
        insert.addBindValue(4714);
        insert.addBindValue(QStringLiteral("TT"));
        insert.addBindValue(1);
        insert.addBindValue(rawCurve().toBuffer());
        QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("writer"));

    auto *reload = m_window->findChild<QAction *>(QStringLiteral("reload"));
    QVERIFY(reload);
    reload->trigger();
    QCOMPARE(m_window->model()->rowCount(), 4);
    QCOMPARE(m_window->model()->index(3, CurveListModel::TestColumn).data().toString(),
             QStringLiteral("TT"));
    QCOMPARE(m_window->model()->rowId(m_window->view()->currentIndex().row()), selected);
    QCOMPARE(seriesNames(m_window->plot()), QStringList{"光密度，第 1 段"});
}

void tst_CurveViewer::noCurveTable_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");

    QTest::newRow("no database") << QString() << "没有打开";
    QTest::newRow("the profile database") << "profile.db"
                                          << "无法读取表 curve";
}

void tst_CurveViewer::noCurveTable()
{
    QFETCH(QString, file);
    QFETCH(QString, message);

    const QString connection = QStringLiteral("other");
    {
        QSqlDatabase database;
        if (!file.isEmpty()) {
            database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            database.setDatabaseName(m_inst->filePath(file));
            QVERIFY(database.open());
        }
        CurveViewerWindow window(database);
        QCOMPARE(window.model()->rowCount(), 0);
        QVERIFY2(window.plot()->message().contains(message), qPrintable(window.plot()->message()));
    }
    QSqlDatabase::removeDatabase(connection);
}

void tst_CurveViewer::englishTexts()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(CURVEVIEWER_EN_QM)));
    QCoreApplication::installTranslator(&translator);

    CurveViewerWindow window(Profile::instance().dataDatabase());
    window.view()->setCurrentIndex(window.model()->index(0, 0));
    QStringList texts = seriesNames(window.plot());
    texts << window.windowTitle() << window.plot()->findChild<QChartView *>()->chart()->title();
    for (int column = 0; column < CurveListModel::ColumnCount; ++column)
        texts << window.model()->headerData(column, Qt::Horizontal).toString();
    for (Qt::Orientation orientation : {Qt::Horizontal, Qt::Vertical}) {
        for (const QValueAxis *axis : valueAxes(window.plot(), orientation))
            texts << axis->titleText();
    }
    window.view()->setCurrentIndex(window.model()->index(2, 0));
    texts << window.plot()->message();

    const QRegularExpression chinese(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    for (const QString &text : texts)
        QVERIFY2(!text.isEmpty() && !text.contains(chinese), qPrintable(text));
    QVERIFY(texts.contains(QStringLiteral("Raw signal, segment 2")));
}

QTEST_MAIN(tst_CurveViewer)
#include "tst_curveviewer.moc"
