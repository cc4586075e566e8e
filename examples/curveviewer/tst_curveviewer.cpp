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
#include <QtWidgets/QLabel>
#include <QtWidgets/QTableView>
#include <QtWidgets/QToolBar>
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

// The shown range of every axis: time, then the raw signal and the density.
static QList<QPointF> shownRanges(const CurvePlot *plot)
{
    QList<QPointF> ranges;
    for (Qt::Orientation orientation : {Qt::Horizontal, Qt::Vertical}) {
        for (const QValueAxis *axis : valueAxes(plot, orientation))
            ranges << QPointF(axis->min(), axis->max());
    }
    return ranges;
}

static QWidget *viewport(const CurvePlot *plot)
{
    return plot->findChild<QChartView *>()->viewport();
}

// The point `fx` of the plot area's width from its left and `fy` of its
// height from its bottom, where the mouse events go.
static QPoint inPlotArea(const CurvePlot *plot, double fx, double fy)
{
    const QRectF area = plot->plotArea();
    const QPointF point(area.left() + fx * area.width(), area.bottom() - fy * area.height());
    return viewport(plot)->mapFrom(plot, point.toPoint());
}

// A million points of a slow wave with one sample far above it.
static ClotCurve spikedCurve(int spike)
{
    QVector<double> values(1000000);
    for (int i = 0; i < values.size(); ++i)
        values[i] = 1000.0 + 50.0 * std::sin(i * 0.001);
    values[spike] = 5000.0;
    ClotCurve curve;
    curve.append(0.0, 0.0003, values);
    return curve;
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
    void longCurveThinnedOut_data();
    void longCurveThinnedOut();
    void zoom_data();
    void zoom();
    void readout_data();
    void readout();
    void exportPlot_data();
    void exportPlot();
    void otherConnectionWritesWhileListed_data();
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

void tst_CurveViewer::longCurveThinnedOut_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("zoom");

    QTest::newRow("whole curve") << 600 << 1.0;
    QTest::newRow("narrow") << 250 << 1.0;
    QTest::newRow("zoomed in tenfold") << 600 << 0.1;
    QTest::newRow("down to the samples") << 600 << 0.0005;
}

void tst_CurveViewer::longCurveThinnedOut()
{
    QFETCH(int, width);
    QFETCH(double, zoom);

    const int spike = 654321;
    const ClotCurve curve = spikedCurve(spike);
    const ClotCurve::Segment raw = curve.segments().constFirst();
    const double spikeX = raw.start + spike * raw.step;
    const double spikeDensity = curve.toType(ClotCurve::OD).segments().constFirst().values[spike];

    CurvePlot plot;
    plot.resize(width, 400);
    plot.setCurve(curve);
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    QCoreApplication::processEvents();
    const QPointF x = shownRanges(&plot).constFirst();
    const QRectF area = plot.plotArea();
    plot.zoomBy(zoom,
                QPointF(area.left() + (spikeX - x.x()) / (x.y() - x.x()) * area.width(),
                        area.center().y()));
    QCoreApplication::processEvents();

    // At most four points a pixel column, and the nearest beyond each end;
    // the spike stays, high in the raw signal and low in the density.
    const int columns = int(std::ceil(plot.plotArea().width()));
    const QList<QAbstractSeries *> series = plot.findChild<QChartView *>()->chart()->series();
    QCOMPARE(series.size(), 2);
    const QList<QPointF> spikes = {{spikeX, 5000.0}, {spikeX, spikeDensity}};
    for (int i = 0; i < series.size(); ++i) {
        const auto *line = qobject_cast<const QLineSeries *>(series[i]);
        QVERIFY2(line->count() <= 4 * columns + 2, qPrintable(QString::number(line->count())));
        QVERIFY(line->points().contains(spikes[i]));
    }
}

void tst_CurveViewer::zoom_data()
{
    QTest::addColumn<QString>("gesture");
    // The part of the whole range that is shown, from and to, as fractions.
    QTest::addColumn<QPointF>("time");
    QTest::addColumn<QPointF>("values");
    QTest::addColumn<QString>("reset");

    QTest::newRow("rubber band") << "rubber band" << QPointF(0.25, 0.75) << QPointF(0.25, 0.75)
                                 << "double click";
    QTest::newRow("flat rubber band")
        << "flat rubber band" << QPointF(0.2, 0.6) << QPointF(0, 1) << "Ctrl+0";
    QTest::newRow("click") << "click" << QPointF(0, 1) << QPointF(0, 1) << "tool bar";
    QTest::newRow("wheel around the cursor")
        << "wheel" << QPointF(0.05, 0.85) << QPointF(0.15, 0.95) << "double click";
    QTest::newRow("middle button drag")
        << "middle button" << QPointF(0.25, 1.25) << QPointF(0, 1) << "Ctrl+0";
    QTest::newRow("shift drag") << "shift drag" << QPointF(0, 1) << QPointF(0.5, 1.5) << "tool bar";
    QTest::newRow("right arrow") << "right arrow" << QPointF(0.1, 1.1) << QPointF(0, 1)
                                 << "double click";
}

void tst_CurveViewer::zoom()
{
    QFETCH(QString, gesture);
    QFETCH(QPointF, time);
    QFETCH(QPointF, values);
    QFETCH(QString, reset);

    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_window->view()->setCurrentIndex(m_window->model()->index(0, 0));
    CurvePlot *plot = m_window->plot();
    QWidget *mouse = viewport(plot);
    const QList<QPointF> whole = shownRanges(plot);
    QCOMPARE(whole.size(), 3);

    if (gesture == "rubber band" || gesture == "flat rubber band" || gesture == "click") {
        const QPoint from = inPlotArea(plot, gesture == "rubber band" ? 0.25 : 0.2, 0.25);
        const QPoint to = gesture == "click" ? from
            : gesture == "rubber band"       ? inPlotArea(plot, 0.75, 0.75)
                                             : inPlotArea(plot, 0.6, 0.25) + QPoint(0, 2);
        QTest::mousePress(mouse, Qt::LeftButton, {}, from);
        QTest::mouseMove(mouse, (from + to) / 2);
        QTest::mouseRelease(mouse, Qt::LeftButton, {}, to);
    } else if (gesture == "wheel") {
        const QPoint at = inPlotArea(plot, 0.25, 0.75);
        QWheelEvent wheel(at, mouse->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(mouse, &wheel);
    } else if (gesture == "middle button") {
        QTest::mousePress(mouse, Qt::MiddleButton, {}, inPlotArea(plot, 0.5, 0.5));
        QTest::mouseRelease(mouse, Qt::MiddleButton, {}, inPlotArea(plot, 0.25, 0.5));
    } else if (gesture == "shift drag") {
        QTest::mousePress(mouse, Qt::LeftButton, Qt::ShiftModifier, inPlotArea(plot, 0.5, 0.5));
        QTest::mouseRelease(mouse, Qt::LeftButton, Qt::ShiftModifier, inPlotArea(plot, 0.5, 0));
    } else if (gesture == "right arrow") {
        QTest::keyClick(plot->findChild<QChartView *>(), Qt::Key_Right);
    }

    // Each axis as the gesture said, within a pixel or so.
    const QList<QPointF> shown = shownRanges(plot);
    for (int i = 0; i < whole.size(); ++i) {
        const QPointF part = i == 0 ? time : values;
        const double span = whole[i].y() - whole[i].x();
        const QPointF expected(whole[i].x() + part.x() * span, whole[i].x() + part.y() * span);
        QVERIFY2(std::abs(shown[i].x() - expected.x()) < span / 100
                     && std::abs(shown[i].y() - expected.y()) < span / 100,
                 qPrintable(QStringLiteral("axis %1 shows %2 to %3, not %4 to %5")
                                .arg(i)
                                .arg(shown[i].x())
                                .arg(shown[i].y())
                                .arg(expected.x())
                                .arg(expected.y())));
    }
    const bool zoomed = time != QPointF(0, 1) || values != QPointF(0, 1);
    QCOMPARE(plot->isZoomed(), zoomed);
    QCOMPARE(plot->resetZoomAction()->isEnabled(), zoomed);

    if (reset == "double click") {
        // As the window system delivers it: a click, and the second press
        // as a double click.
        const QPoint at = inPlotArea(plot, 0.5, 0.5);
        QTest::mouseClick(mouse, Qt::LeftButton, {}, at);
        QTest::mouseDClick(mouse, Qt::LeftButton, {}, at);
        QTest::mouseRelease(mouse, Qt::LeftButton, {}, at);
    } else if (reset == "Ctrl+0") {
        // Wherever the focus is in the window.
        QTest::keyClick(m_window->view(), Qt::Key_0, Qt::ControlModifier);
    } else {
        auto *toolBar = m_window->findChild<QToolBar *>(QStringLiteral("curveToolBar"));
        QTest::mouseClick(toolBar->widgetForAction(plot->resetZoomAction()), Qt::LeftButton);
    }
    QCOMPARE(shownRanges(plot), whole);
    QVERIFY(!plot->isZoomed());
}

void tst_CurveViewer::readout_data()
{
    QTest::addColumn<double>("time");
    QTest::addColumn<QString>("text");

    const ClotCurve curve = rawCurve();
    const double raw = curve.segments().constFirst().values[70];
    const double density = curve.toType(ClotCurve::OD).segments().constFirst().values[70];
    QTest::newRow("first segment, with its density")
        << 7.02
        << QStringLiteral("时间 7 s，原始信号 %1，光密度 %2")
               .arg(QString::number(raw, 'g', 8), QString::number(density, 'g', 8));
    QTest::newRow("second segment, raw only") << 12.2 << "时间 12 s，原始信号 396，光密度 —";
    QTest::newRow("left of the plot area") << -1.0 << QString();
}

void tst_CurveViewer::readout()
{
    QFETCH(double, time);
    QFETCH(QString, text);

    m_window->view()->setCurrentIndex(m_window->model()->index(0, 0));
    CurvePlot *plot = m_window->plot();
    QVERIFY(!plot->isZoomed());
    const QPointF x = shownRanges(plot).constFirst();
    QTest::mouseMove(viewport(plot), inPlotArea(plot, (time - x.x()) / (x.y() - x.x()), 0.5));
    QCOMPARE(plot->readout(), text);
    QCOMPARE(m_window->findChild<QLabel *>(QStringLiteral("readout"))->text(), text);
}

void tst_CurveViewer::exportPlot_data()
{
    QTest::addColumn<QString>("suffix");
    // How the file starts; empty where none is written.
    QTest::addColumn<QByteArray>("start");

    QTest::newRow("png") << "png" << QByteArray("\x89PNG");
    QTest::newRow("svg") << "svg" << QByteArray("<?xml");
    QTest::newRow("pdf") << "pdf" << QByteArray("%PDF");
    QTest::newRow("suffix in capitals") << "PDF" << QByteArray("%PDF");
    QTest::newRow("another type") << "jpg" << QByteArray();
}

void tst_CurveViewer::exportPlot()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, start);
#ifndef CURVEPLOT_SVG
    if (suffix == "svg")
        QSKIP("built against a Qt without QtSvg: the plot exports PNG and PDF only");
#endif

    m_window->view()->setCurrentIndex(m_window->model()->index(0, 0));
    CurvePlot *plot = m_window->plot();
    plot->zoomBy(0.5, plot->plotArea().center());
    const QList<QPointF> zoomed = shownRanges(plot);
    const QRectF area = plot->plotArea();
    QStringList colors;
    for (const QAbstractSeries *series : plot->findChild<QChartView *>()->chart()->series())
        colors << qobject_cast<const QLineSeries *>(series)->pen().color().name();

    const QString file = m_inst->filePath(QStringLiteral("plot.") + suffix);
    QString error;
    QCOMPARE(plot->exportTo(file, &error), !start.isEmpty());
    QCOMPARE(shownRanges(plot), zoomed);
    plot->resetZoom();
    if (start.isEmpty()) {
        QVERIFY2(error.contains(QStringLiteral("PNG")), qPrintable(error));
        QVERIFY(!QFile::exists(file));
        return;
    }
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    QVERIFY(bytes.startsWith(start));
    if (suffix == "png")
        QCOMPARE(QImage(file).size(), plot->size());
    if (suffix != "svg")
        return;
    // A drawing, not a picture: the title is text in it, and the curves are
    // lines that end at the frame, zoomed as they are.
    QVERIFY(bytes.contains(QStringLiteral("样本 4711").toUtf8()));
    // Drawn where the widget is, so the plot area is where it was on the screen.
    QXmlStreamReader svg(bytes);
    QString stroke, transform;
    int points = 0;
    while (!svg.atEnd()) {
        if (svg.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = svg.attributes();
        if (svg.name() == QLatin1String("g")) {
            stroke = attributes.value(QLatin1String("stroke")).toString();
            transform = attributes.value(QLatin1String("transform")).toString();
        } else if (svg.name() == QLatin1String("polyline") && colors.contains(stroke)) {
            QCOMPARE(transform, QStringLiteral("matrix(1,0,0,1,0,0)"));
            const QStringList pairs = attributes.value(QLatin1String("points"))
                                          .toString()
                                          .split(QLatin1Char(' '), Qt::SkipEmptyParts);
            for (const QString &pair : pairs) {
                const QPointF point(pair.section(QLatin1Char(','), 0, 0).toDouble(),
                                    pair.section(QLatin1Char(','), 1, 1).toDouble());
                QVERIFY2(area.adjusted(-0.5, -0.5, 0.5, 0.5).contains(point), qPrintable(pair));
                ++points;
            }
        }
    }
    QVERIFY(!svg.hasError());
    QVERIFY(points > 0);
}

void tst_CurveViewer::otherConnectionWritesWhileListed_data()
{
    QTest::addColumn<bool>("byHand");

    QTest::newRow("reload action") << true;
    QTest::newRow("on its own") << false;
}

void tst_CurveViewer::otherConnectionWritesWhileListed()
{
    QFETCH(bool, byHand);

    // The application saves curves while the viewer is open: the list must
    // hold no lock that keeps a writer waiting, and the plot stays as zoomed.
    m_window->view()->setCurrentIndex(m_window->model()->index(1, 0));
    const qint64 selected = m_window->model()->rowId(1);
    const int rows = m_window->model()->rowCount();
    CurvePlot *plot = m_window->plot();
    plot->zoomBy(0.5, plot->plotArea().center());
    const QList<QPointF> zoomed = shownRanges(plot);
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

    if (byHand) {
        auto *reload = m_window->findChild<QAction *>(QStringLiteral("reload"));
        QVERIFY(reload);
        reload->trigger();
    }
    QTRY_COMPARE(m_window->model()->rowCount(), rows + 1);
    QCOMPARE(m_window->model()->index(rows, CurveListModel::TestColumn).data().toString(),
             QStringLiteral("TT"));
    QCOMPARE(m_window->model()->rowId(m_window->view()->currentIndex().row()), selected);
    QCOMPARE(seriesNames(m_window->plot()), QStringList{"光密度，第 1 段"});
    QCOMPARE(shownRanges(plot), zoomed);
    plot->resetZoom();
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
    for (const QAction *action : window.findChildren<QAction *>()) {
        if (!action->isSeparator())
            texts << action->text() << action->statusTip();
    }
    texts.removeAll(QString()); // the tool bar's and the menus' own status tips
    texts << window.plot()->findChild<QChartView *>()->toolTip();
    QString error;
    window.plot()->exportTo(m_inst->filePath(QStringLiteral("plot.jpg")), &error);
    texts << error;
    window.view()->setCurrentIndex(window.model()->index(2, 0));
    texts << window.plot()->message();

    const QRegularExpression chinese(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    for (const QString &text : texts)
        QVERIFY2(!text.isEmpty() && !text.contains(chinese), qPrintable(text));
    QVERIFY(texts.contains(QStringLiteral("Raw signal, segment 2")));
}

QTEST_MAIN(tst_CurveViewer)
#include "tst_curveviewer.moc"
