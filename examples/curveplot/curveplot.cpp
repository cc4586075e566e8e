#include "curveplot.h"

#include <QtCore/QtEndian>

#include "analysisresult.h"

#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtWidgets/QLabel>
#include <QtWidgets/QStackedLayout>

#include <cmath>
#include <iterator>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
QT_CHARTS_USE_NAMESPACE
#endif

namespace {

// Shades of blue for the raw signal, one per segment; red for the optical density.
const QRgb rawColors[] = {0x1f77b4, 0x17becf, 0x393b79, 0x9467bd};
const QRgb densityColor = 0xd62728;

struct Range
{
    double low = qInf();
    double high = -qInf();

    void include(double value)
    {
        low = qMin(low, value);
        high = qMax(high, value);
    }
    bool isEmpty() const { return low > high; }
};

// The finite points of one segment; a point that is no number (the density of
// a zero baseline is minus infinity) is left out.
QLineSeries *segmentSeries(const ClotCurve::Segment &segment, const QString &name, QRgb color,
                           Range *x, Range *y)
{
    QVector<QPointF> points;
    points.reserve(segment.values.size());
    for (int j = 0; j < segment.values.size(); ++j) {
        const QPointF point(segment.start + j * segment.step, segment.values.at(j));
        if (!std::isfinite(point.x()) || !std::isfinite(point.y()))
            continue;
        points.append(point);
        x->include(point.x());
        y->include(point.y());
    }
    if (points.isEmpty())
        return nullptr;
    auto *series = new QLineSeries;
    series->setName(name);
    series->setPen(QPen(QColor(color), 2));
    series->replace(points);
    return series;
}

enum class Margin { None, Some };

// A round step, 1, 2 or 5 times a power of ten, that parts `span` into about `parts`.
double roundStep(double span, int parts)
{
    const double rough = span / parts;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0}) {
        if (rough <= factor * power)
            return factor * power;
    }
    return 10.0 * power;
}

// Ticks at whole multiples of a round step, each one computed on its own: the
// value axis adds up its steps, which leaves zero a hair below itself ("-0.00").
// Returns null when there is nothing to put on the axis.
QCategoryAxis *addAxis(QChart *chart, const QString &title, const Range &range, Margin margin,
                       Qt::Alignment alignment, const QList<QLineSeries *> &series)
{
    if (series.isEmpty())
        return nullptr;
    auto *axis = new QCategoryAxis;
    axis->setTitleText(title);
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);

    // One value still gets an axis around it.
    const double span = range.high - range.low;
    const double room = !(span > 0) ? qMax(1.0, std::abs(range.low) * 0.1)
        : margin == Margin::Some    ? span * 0.05
                                    : 0.0;
    const double step = roundStep(span + 2 * room, 6);
    const double first = std::floor((range.low - room) / step);
    const double last = std::ceil((range.high + room) / step);
    // Near the ends of the double range, or for values a hair apart far from
    // zero, whole multiples of a step are not to be had: the bare range then.
    const double exactIntegers = 4503599627370496.0; // 2^52
    if (std::isfinite(first * step) && std::isfinite(last * step) && last - first <= 100
        && std::abs(first) < exactIntegers && std::abs(last) < exactIntegers) {
        axis->setRange(first * step, last * step);
        axis->setStartValue((first - 1) * step);
        for (double multiple = first; multiple <= last; ++multiple) {
            // Adding 0.0 makes 0 of the -0 that a multiple of -0 gives.
            axis->append(QString::number(multiple * step + 0.0, 'g', 12), multiple * step);
        }
    } else {
        axis->setRange(range.low, range.high);
    }
    chart->addAxis(axis, alignment);
    for (QLineSeries *one : series)
        one->attachAxis(axis);
    return axis;
}

} // namespace

class CurvePlotPrivate
{
public:
    QStackedLayout *layout;
    QChartView *view;
    QLabel *message;
    QString title;
};

CurvePlot::CurvePlot(QWidget *parent)
    : QWidget(parent)
    , d(new CurvePlotPrivate)
{
    d->view = new QChartView(this);
    d->view->setRenderHint(QPainter::Antialiasing);
    d->message = new QLabel(this);
    d->message->setObjectName(QStringLiteral("message"));
    d->message->setAlignment(Qt::AlignCenter);
    d->message->setWordWrap(true);
    d->layout = new QStackedLayout(this);
    d->layout->addWidget(d->view);
    d->layout->addWidget(d->message);
}

CurvePlot::~CurvePlot() = default;

void CurvePlot::setTitle(const QString &title)
{
    d->title = title;
    d->view->chart()->setTitle(title);
}

void CurvePlot::setCurve(const ClotCurve &curve)
{
    const QVector<ClotCurve::Segment> segments = curve.segments();
    Range x, raw, density;
    QList<QLineSeries *> rawSeries, densitySeries;
    if (!segments.isEmpty()) {
        // toType converts the first segment only; the later ones keep their
        // raw values, in a curve stored as optical density as well.
        const int firstRaw = curve.type() == ClotCurve::Raw ? 0 : 1;
        for (int k = firstRaw; k < segments.size(); ++k) {
            if (QLineSeries *series =
                    segmentSeries(segments.at(k), tr("原始信号，第 %1 段").arg(k + 1),
                                  rawColors[k % std::size(rawColors)], &x, &raw))
                rawSeries.append(series);
        }
        if (QLineSeries *series = segmentSeries(curve.toType(ClotCurve::OD).segments().constFirst(),
                                                tr("光密度，第 1 段"), densityColor, &x, &density))
            densitySeries.append(series);
    }
    if (rawSeries.isEmpty() && densitySeries.isEmpty()) {
        showMessage(curve.size() ? tr("曲线没有可以绘制的点") : tr("曲线没有点"));
        return;
    }

    const QList<QLineSeries *> allSeries = rawSeries + densitySeries;
    auto *chart = new QChart;
    chart->setTitle(d->title);
    chart->legend()->setAlignment(Qt::AlignBottom);
    for (QLineSeries *series : allSeries)
        chart->addSeries(series);
    // Time starts and ends with the curve; the values keep clear of the frame.
    addAxis(chart, tr("时间 (s)"), x, Margin::None, Qt::AlignBottom, allSeries);
    const QCategoryAxis *rawAxis =
        addAxis(chart, tr("原始信号"), raw, Margin::Some, Qt::AlignLeft, rawSeries);
    QCategoryAxis *densityAxis =
        addAxis(chart, tr("光密度"), density, Margin::Some, Qt::AlignRight, densitySeries);
    // One set of horizontal grid lines: two that do not meet only clutter.
    if (rawAxis && densityAxis)
        densityAxis->setGridLineVisible(false);

    // The view hands over its old chart instead of deleting it.
    QChart *old = d->view->chart();
    d->view->setChart(chart);
    delete old;
    d->message->clear();
    d->layout->setCurrentWidget(d->view);
}

bool CurvePlot::setStoredCurve(const QByteArray &bytes)
{
    if (bytes.isEmpty()) {
        showMessage(tr("没有保存曲线"));
        return false;
    }
    bool complete = false;
    const ClotCurve curve = ClotCurve::fromBuffer(bytes, &complete);
    if (!complete) {
        const quint32 type = bytes.size() >= 4 ? qFromBigEndian<quint32>(bytes.constData()) : 0;
        if (type > ClotCurve::OD)
            showMessage(tr("无法解码曲线：未知的点类型 %1").arg(type));
        else
            showMessage(tr("无法解码曲线：这 %n 个字节不是一条完整的曲线", nullptr, bytes.size()));
        return false;
    }
    setCurve(curve);
    return message().isEmpty();
}

void CurvePlot::showMessage(const QString &text)
{
    d->message->setText(text);
    d->layout->setCurrentWidget(d->message);
}

QString CurvePlot::message() const
{
    return d->message->text();
}
