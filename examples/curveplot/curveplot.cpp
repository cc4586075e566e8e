#include "curveplot.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtCore/QSaveFile>
#include <QtCore/QtEndian>

#include "analysisresult.h"

#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QPdfWriter>
#include <QtGui/QWheelEvent>
#ifdef CURVEPLOT_SVG
#include <QtSvg/QSvgGenerator>
#endif
#include <QtWidgets/QGraphicsEllipseItem>
#include <QtWidgets/QGraphicsLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QRubberBand>
#include <QtWidgets/QStackedLayout>
// QAction moved from the widgets module to the GUI module in Qt 6.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtGui/QAction>
#else
#include <QtWidgets/QAction>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
QT_CHARTS_USE_NAMESPACE
#endif

namespace {

// Shades of blue for the raw signal, one per segment; red for the optical density.
const QRgb rawColors[] = {0x1f77b4, 0x17becf, 0x393b79, 0x9467bd};
const QRgb densityColor = 0xd62728;

// Points a series gets for each pixel column of the plot area at most.
const int pointsPerColumn = 4;
// A drag shorter than this in one direction zooms the other one only.
const int smallestDrag = 5;

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

// The finite points of one segment in the order of x; a point that is no
// number (the density of a zero baseline is minus infinity) is left out.
QVector<QPointF> finitePoints(const ClotCurve::Segment &segment, Range *x, Range *y)
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
    // Equally spaced, so a falling x is reversed order; the line stays the same.
    if (segment.step < 0)
        std::reverse(points.begin(), points.end());
    return points;
}

// The points of [low, high] that a line through them covers the same pixels
// with as a line through all of them: for each of `columns` pixel columns the
// first, the lowest, the highest and the last point in it, in their order,
// so that a spike of one sample stays; and the nearest point beyond each end,
// so that the line runs on to the frame. `points` are in the order of x.
QVector<QPointF> decimated(const QVector<QPointF> &points, double low, double high, int columns)
{
    auto begin = std::lower_bound(points.cbegin(), points.cend(), low,
                                  [](const QPointF &p, double x) { return p.x() < x; });
    auto end = std::upper_bound(points.cbegin(), points.cend(), high,
                                [](double x, const QPointF &p) { return x < p.x(); });
    if (begin != points.cbegin())
        --begin;
    if (end != points.cend())
        ++end;
    if (end - begin <= pointsPerColumn * columns)
        return QVector<QPointF>(begin, end);

    QVector<QPointF> kept;
    kept.reserve(pointsPerColumn * (columns + 2));
    const double width = (high - low) / columns;
    // The points beyond the ends fall into columns -1 and `columns`.
    const auto columnOf = [low, width, columns](double x) {
        const double column = std::floor((x - low) / width);
        return !(column >= 0) ? -1.0 : column >= columns ? double(columns) : column;
    };
    auto first = begin, lowest = begin, highest = begin, last = begin;
    double column = columnOf(begin->x());
    const auto keep = [&] {
        auto a = lowest, b = highest;
        if (b < a)
            std::swap(a, b);
        kept.append(*first);
        if (a != first)
            kept.append(*a);
        if (b != a)
            kept.append(*b);
        if (last != b)
            kept.append(*last);
    };
    for (auto it = begin + 1; it != end; ++it) {
        const double next = columnOf(it->x());
        if (next != column) {
            keep();
            first = lowest = highest = it;
            column = next;
        } else if (it->y() < lowest->y()) {
            lowest = it;
        } else if (it->y() > highest->y()) {
            highest = it;
        }
        last = it;
    }
    keep();
    return kept;
}

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

// Whether the multiples `first` to `last` of `step` make ticks: near the ends
// of the double range, or for values a hair apart far from zero, whole
// multiples of a step are not to be had.
bool wholeMultiples(double first, double last, double step)
{
    const double exactIntegers = 4503599627370496.0; // 2^52
    return std::isfinite(first * step) && std::isfinite(last * step) && last - first <= 100
        && std::abs(first) < exactIntegers && std::abs(last) < exactIntegers;
}

// Ticks at the whole multiples of `step` within [low, high], each one computed
// on its own: the value axis adds up its steps, which leaves zero a hair below
// itself ("-0.00"). The bare range where there are no such multiples.
void showRange(QCategoryAxis *axis, double low, double high, double step)
{
    for (const QString &label : axis->categoriesLabels())
        axis->remove(label);
    axis->setRange(low, high);
    const double first = std::ceil(low / step);
    const double last = std::floor(high / step);
    if (!wholeMultiples(first, last, step))
        return;
    axis->setStartValue((first - 1) * step);
    for (double multiple = first; multiple <= last; ++multiple) {
        // Adding 0.0 makes 0 of the -0 that a multiple of -0 gives.
        axis->append(QString::number(multiple * step + 0.0, 'g', 12), multiple * step);
    }
}

// One axis of the chart: the range the whole curve takes, and the one shown.
struct Axis
{
    QCategoryAxis *axis = nullptr;
    double homeLow = 0, homeHigh = 1, homeStep = 1;
    double low = 0, high = 1;

    bool isZoomed() const { return axis && (low != homeLow || high != homeHigh); }
    // The value at `fraction` of the shown range, without overflowing at
    // the ends of the double range.
    double valueAt(double fraction) const { return low * (1 - fraction) + high * fraction; }
    // Shows [newLow, newHigh] unless that is no range left to show. Returns
    // whether the range changed.
    bool setRange(double newLow, double newHigh)
    {
        if (!axis || !std::isfinite(newLow) || !std::isfinite(newHigh) || !(newLow < newHigh))
            return false;
        // Nine digits of the values still apart, and no further in than a
        // billionth of the whole.
        const double span = newHigh - newLow;
        if (span < 1e-9 * qMax(std::abs(newLow), std::abs(newHigh))
            || span < 1e-9 * (homeHigh - homeLow) || (newLow == low && newHigh == high))
            return false;
        low = newLow;
        high = newHigh;
        showRange(axis, low, high, roundStep(high - low, 6));
        return true;
    }
    bool reset()
    {
        if (!isZoomed())
            return false;
        low = homeLow;
        high = homeHigh;
        showRange(axis, low, high, homeStep);
        return true;
    }
};

enum class Margin { None, Some };

// An axis around `range`, ending at whole multiples of a round step. Returns
// an empty Axis when there is nothing to put on it.
Axis addAxis(QChart *chart, const QString &title, const Range &range, Margin margin,
             Qt::Alignment alignment, const QList<QLineSeries *> &series)
{
    Axis axis;
    if (series.isEmpty())
        return axis;
    axis.axis = new QCategoryAxis;
    axis.axis->setTitleText(title);
    axis.axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);

    // One value still gets an axis around it.
    const double span = range.high - range.low;
    const double room = !(span > 0) ? qMax(1.0, std::abs(range.low) * 0.1)
        : margin == Margin::Some    ? span * 0.05
                                    : 0.0;
    axis.homeStep = roundStep(span + 2 * room, 6);
    const double first = std::floor((range.low - room) / axis.homeStep);
    const double last = std::ceil((range.high + room) / axis.homeStep);
    const bool rounded = wholeMultiples(first, last, axis.homeStep);
    axis.homeLow = rounded ? first * axis.homeStep : range.low;
    axis.homeHigh = rounded ? last * axis.homeStep : range.high;
    axis.low = axis.homeLow;
    axis.high = axis.homeHigh;
    showRange(axis.axis, axis.low, axis.high, axis.homeStep);
    chart->addAxis(axis.axis, alignment);
    for (QLineSeries *one : series)
        one->attachAxis(axis.axis);
    return axis;
}

QPointF eventPosition(const QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->position();
#else
    return event->localPos();
#endif
}

// The value of the readout, or a dash where the curve has none.
QString readoutNumber(const QPointF *point)
{
    return point ? QString::number(point->y(), 'g', 8) : QStringLiteral("—");
}

// The pieces of the line through `points` that lie within `rect`
// (Liang-Barsky, segment by segment).
QVector<QPolygonF> clippedLine(const QPolygonF &points, const QRectF &rect)
{
    QVector<QPolygonF> pieces;
    QPolygonF piece;
    const auto endPiece = [&] {
        if (piece.size() > 1)
            pieces.append(piece);
        piece.clear();
    };
    for (int i = 1; i < points.size(); ++i) {
        const QPointF a = points.at(i - 1), delta = points.at(i) - a;
        const double p[] = {-delta.x(), delta.x(), -delta.y(), delta.y()};
        const double q[] = {a.x() - rect.left(), rect.right() - a.x(), a.y() - rect.top(),
                            rect.bottom() - a.y()};
        double enter = 0, leave = 1;
        for (int k = 0; k < 4 && enter <= leave; ++k) {
            if (p[k] == 0) {
                if (q[k] < 0)
                    leave = -1;
            } else if (p[k] < 0) {
                enter = qMax(enter, q[k] / p[k]);
            } else {
                leave = qMin(leave, q[k] / p[k]);
            }
        }
        if (enter > leave) {
            endPiece();
            continue;
        }
        const QPointF from = a + enter * delta;
        if (piece.isEmpty() || piece.constLast() != from) {
            endPiece();
            piece.append(from);
        }
        piece.append(a + leave * delta);
        if (leave < 1)
            endPiece();
    }
    endPiece();
    return pieces;
}

// The chart view's mouse and keys, handed to the plot.
class ChartView : public QChartView
{
public:
    explicit ChartView(CurvePlotPrivate *plot);

protected:
    bool viewportEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    enum class Drag { None, Zoom, Pan };

    CurvePlotPrivate *d;
    QRubberBand *m_band;
    Drag m_drag = Drag::None;
    QPointF m_origin;
};

// One series and the points it shows a part of.
struct Plotted
{
    QLineSeries *series;
    QVector<QPointF> points;
    bool raw;
};

} // namespace

class CurvePlotPrivate
{
public:
    enum AxisIndex { X, RawY, DensityY, AxisCount };

    CurvePlot *q;
    QStackedLayout *layout;
    ChartView *view;
    QLabel *message;
    QAction *resetZoom;
    QString title;
    QVector<Plotted> plotted;
    std::array<Axis, AxisCount> axes;
    // What the series were last thinned out for.
    double shownLow = 0, shownHigh = 0;
    int shownColumns = 0;
    QGraphicsEllipseItem *rawMarker = nullptr;
    QGraphicsEllipseItem *densityMarker = nullptr;
    QString readout;

    bool hasChart() const { return !plotted.isEmpty() && layout->currentWidget() == view; }
    QRectF plotArea() const;
    int columns() const;
    void thinOut();
    void rangesChanged();
    void setRanges(const QRectF &fractions);
    void zoomToArea(const QRectF &area);
    void zoomBy(double factor, const QPointF &position);
    void panBy(const QPointF &distance);
    void showReadout(const QPointF &position);
    void setReadout(const QString &text);
    void renderClipped(QPainter *painter);
};

namespace {

ChartView::ChartView(CurvePlotPrivate *plot)
    : d(plot)
    , m_band(new QRubberBand(QRubberBand::Rectangle, viewport()))
{
    setRenderHint(QPainter::Antialiasing);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setCursor(Qt::CrossCursor);
    setToolTip(CurvePlot::tr("拖动矩形放大，滚轮缩放，中键或 Shift 拖动平移，双击复原"));
}

bool ChartView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Leave)
        d->setReadout(QString());
    return QChartView::viewportEvent(event);
}

void ChartView::mousePressEvent(QMouseEvent *event)
{
    if (!d->hasChart() || m_drag != Drag::None)
        return QChartView::mousePressEvent(event);
    m_origin = eventPosition(event);
    if (event->button() == Qt::MiddleButton
        || (event->button() == Qt::LeftButton && event->modifiers() & Qt::ShiftModifier)) {
        m_drag = Drag::Pan;
        viewport()->setCursor(Qt::ClosedHandCursor);
    } else if (event->button() == Qt::LeftButton) {
        m_drag = Drag::Zoom;
        m_band->setGeometry(QRect(m_origin.toPoint(), QSize()));
        m_band->show();
    } else {
        return QChartView::mousePressEvent(event);
    }
    event->accept();
}

void ChartView::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF position = eventPosition(event);
    if (m_drag == Drag::Pan) {
        d->panBy(position - m_origin);
        m_origin = position;
    } else if (m_drag == Drag::Zoom) {
        const QRectF area = d->plotArea();
        const QPointF end(qBound(area.left(), position.x(), area.right()),
                          qBound(area.top(), position.y(), area.bottom()));
        m_band->setGeometry(QRectF(m_origin, end).normalized().toRect());
    }
    d->showReadout(position);
    QChartView::mouseMoveEvent(event);
}

void ChartView::mouseReleaseEvent(QMouseEvent *event)
{
    const QPointF position = eventPosition(event);
    if (m_drag == Drag::Zoom && event->button() == Qt::LeftButton) {
        m_band->hide();
        m_drag = Drag::None;
        d->zoomToArea(QRectF(m_origin, position).normalized());
    } else if (m_drag == Drag::Pan
               && (event->button() == Qt::MiddleButton || event->button() == Qt::LeftButton)) {
        d->panBy(position - m_origin);
        m_drag = Drag::None;
        viewport()->setCursor(Qt::CrossCursor);
    } else {
        return QChartView::mouseReleaseEvent(event);
    }
    d->showReadout(position);
    event->accept();
}

void ChartView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        d->q->resetZoom();
    QChartView::mouseDoubleClickEvent(event);
}

void ChartView::wheelEvent(QWheelEvent *event)
{
    if (!d->hasChart() || event->angleDelta().y() == 0)
        return QChartView::wheelEvent(event);
    // A notch (120) forward shows four fifths of the ranges.
    d->zoomBy(std::pow(0.8, event->angleDelta().y() / 120.0), event->position());
    d->showReadout(event->position());
    event->accept();
}

void ChartView::keyPressEvent(QKeyEvent *event)
{
    if (!d->hasChart())
        return QChartView::keyPressEvent(event);
    const QRectF area = d->plotArea();
    // The view moves a tenth of the plot area the arrow's way.
    const double dx = area.width() / 10, dy = area.height() / 10;
    if (event->key() == Qt::Key_Left) {
        d->panBy(QPointF(dx, 0));
    } else if (event->key() == Qt::Key_Right) {
        d->panBy(QPointF(-dx, 0));
    } else if (event->key() == Qt::Key_Up) {
        d->panBy(QPointF(0, dy));
    } else if (event->key() == Qt::Key_Down) {
        d->panBy(QPointF(0, -dy));
    } else if (event->matches(QKeySequence::ZoomIn) || event->key() == Qt::Key_Plus) {
        d->zoomBy(0.8, area.center());
    } else if (event->matches(QKeySequence::ZoomOut) || event->key() == Qt::Key_Minus) {
        d->zoomBy(1.25, area.center());
    } else if (event->key() == Qt::Key_Escape && m_drag == Drag::Zoom) {
        m_band->hide();
        m_drag = Drag::None;
    } else {
        return QChartView::keyPressEvent(event);
    }
    event->accept();
}

} // namespace

// In the view's viewport, where the mouse events are. A change of the
// axes' labels lays the chart out again from the event loop; the area is
// that of the new layout already.
QRectF CurvePlotPrivate::plotArea() const
{
    QChart *chart = view->chart();
    if (QGraphicsLayout *layout = chart->layout())
        layout->activate();
    return view->viewportTransform().mapRect(chart->mapRectToScene(chart->plotArea()));
}

// Device pixels across the plot area; the view's before the chart is laid out.
int CurvePlotPrivate::columns() const
{
    const double width = view->chart()->plotArea().width();
    return qMax(1,
                int(std::ceil((width >= 1 ? width : view->width()) * view->devicePixelRatioF())));
}

void CurvePlotPrivate::thinOut()
{
    const Axis &x = axes[X];
    const int count = columns();
    if (x.low == shownLow && x.high == shownHigh && count == shownColumns)
        return;
    shownLow = x.low;
    shownHigh = x.high;
    shownColumns = count;
    for (Plotted &one : plotted) {
        // A short series is handed over whole once, and left alone after; a
        // thinned-out one holds fewer points, as they are some of all.
        if (one.points.size() > pointsPerColumn * count)
            one.series->replace(decimated(one.points, x.low, x.high, count));
        else if (one.series->count() != one.points.size())
            one.series->replace(one.points);
    }
}

void CurvePlotPrivate::rangesChanged()
{
    thinOut();
    resetZoom->setEnabled(q->isZoomed());
}

// Each axis to the part of its shown range between the fractions, counted
// from the left and from the bottom.
void CurvePlotPrivate::setRanges(const QRectF &fractions)
{
    bool changed = false;
    for (int i = 0; i < AxisCount; ++i) {
        Axis &axis = axes[i];
        const double from = i == X ? fractions.left() : fractions.top();
        const double to = i == X ? fractions.right() : fractions.bottom();
        changed |= axis.setRange(axis.valueAt(from), axis.valueAt(to));
    }
    if (changed)
        rangesChanged();
}

void CurvePlotPrivate::zoomToArea(const QRectF &area)
{
    const QRectF plot = plotArea();
    if (!hasChart() || plot.isEmpty())
        return;
    const QRectF part = area.intersected(plot);
    const bool wide = part.width() >= smallestDrag, high = part.height() >= smallestDrag;
    if (!wide && !high)
        return;
    QRectF fractions(0, 0, 1, 1);
    if (wide) {
        fractions.setLeft((part.left() - plot.left()) / plot.width());
        fractions.setRight((part.right() - plot.left()) / plot.width());
    }
    if (high) {
        fractions.setTop((plot.bottom() - part.bottom()) / plot.height());
        fractions.setBottom((plot.bottom() - part.top()) / plot.height());
    }
    setRanges(fractions);
}

void CurvePlotPrivate::zoomBy(double factor, const QPointF &position)
{
    const QRectF plot = plotArea();
    if (!hasChart() || plot.isEmpty() || !(factor > 0))
        return;
    const double fx = (position.x() - plot.left()) / plot.width();
    const double fy = (plot.bottom() - position.y()) / plot.height();
    setRanges(QRectF(QPointF(fx - fx * factor, fy - fy * factor),
                     QPointF(fx + (1 - fx) * factor, fy + (1 - fy) * factor)));
}

void CurvePlotPrivate::panBy(const QPointF &distance)
{
    const QRectF plot = plotArea();
    if (!hasChart() || plot.isEmpty())
        return;
    const double fx = -distance.x() / plot.width(), fy = distance.y() / plot.height();
    setRanges(QRectF(QPointF(fx, fy), QPointF(1 + fx, 1 + fy)));
}

// The point nearest `position` in time over all series, and the raw signal
// and the density at that time, each with a marker on it.
void CurvePlotPrivate::showReadout(const QPointF &position)
{
    const QRectF plot = plotArea();
    if (!hasChart() || !plot.contains(position))
        return setReadout(QString());
    const double x = axes[X].valueAt((position.x() - plot.left()) / plot.width());
    const auto firstFrom = [](const QVector<QPointF> &points, double x) {
        return int(std::lower_bound(points.cbegin(), points.cend(), x,
                                    [](const QPointF &p, double x) { return p.x() < x; })
                   - points.cbegin());
    };
    const QPointF *nearest = nullptr;
    for (const Plotted &one : plotted) {
        const int i = firstFrom(one.points, x);
        for (int candidate : {i - 1, i}) {
            if (candidate < 0 || candidate >= one.points.size())
                continue;
            const QPointF &point = one.points.at(candidate);
            if (!nearest || std::abs(point.x() - x) < std::abs(nearest->x() - x))
                nearest = &point;
        }
    }
    if (!nearest)
        return setReadout(QString());

    // The series that hold a point at that very time: the density is made of
    // the first segment only.
    struct Found
    {
        const QPointF *point = nullptr;
        const Plotted *plotted = nullptr;
    } raw, density;
    for (const Plotted &one : plotted) {
        Found &found = one.raw ? raw : density;
        const int i = firstFrom(one.points, nearest->x());
        if (!found.point && i < one.points.size() && one.points.at(i).x() == nearest->x())
            found = {&one.points.at(i), &one};
    }
    QChart *chart = view->chart();
    for (auto marker : {std::make_pair(rawMarker, raw), std::make_pair(densityMarker, density)}) {
        const Found &found = marker.second;
        if (!found.point) {
            marker.first->hide();
            continue;
        }
        const QPointF at = chart->mapToPosition(*found.point, found.plotted->series);
        marker.first->setPos(at);
        marker.first->setBrush(found.plotted->series->pen().color());
        marker.first->setVisible(chart->plotArea().contains(at));
    }
    setReadout(CurvePlot::tr("时间 %1 s，原始信号 %2，光密度 %3")
                   .arg(QString::number(nearest->x(), 'g', 8), readoutNumber(raw.point),
                        readoutNumber(density.point)));
}

// The widget as shown, the series cut at the plot area by hand: the SVG
// generator writes no clipping, and a zoomed curve would run across the axes.
void CurvePlotPrivate::renderClipped(QPainter *painter)
{
    for (const Plotted &one : plotted)
        one.series->setOpacity(0);
    q->render(painter);
    for (const Plotted &one : plotted)
        one.series->setOpacity(1);

    QChart *chart = view->chart();
    const QPointF offset = view->viewport()->mapTo(q, QPoint());
    const QTransform toWidget =
        view->viewportTransform() * QTransform::fromTranslate(offset.x(), offset.y());
    const QRectF area = q->plotArea();
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    for (const Plotted &one : plotted) {
        QPolygonF line;
        const auto points = one.series->points();
        line.reserve(points.size());
        for (const QPointF &point : points)
            line.append(toWidget.map(chart->mapToScene(chart->mapToPosition(point, one.series))));
        painter->setPen(one.series->pen());
        for (const QPolygonF &piece : clippedLine(line, area))
            painter->drawPolyline(piece);
    }
    painter->restore();
}

void CurvePlotPrivate::setReadout(const QString &text)
{
    if (text.isEmpty()) {
        if (rawMarker)
            rawMarker->hide();
        if (densityMarker)
            densityMarker->hide();
    }
    if (text == readout)
        return;
    readout = text;
    Q_EMIT q->readoutChanged(text);
}

CurvePlot::CurvePlot(QWidget *parent)
    : QWidget(parent)
    , d(new CurvePlotPrivate)
{
    d->q = this;
    d->view = new ChartView(d.get());
    d->message = new QLabel(this);
    d->message->setObjectName(QStringLiteral("message"));
    d->message->setAlignment(Qt::AlignCenter);
    d->message->setWordWrap(true);
    d->layout = new QStackedLayout(this);
    d->layout->addWidget(d->view);
    d->layout->addWidget(d->message);

    d->resetZoom = new QAction(tr("复原缩放"), this);
    d->resetZoom->setObjectName(QStringLiteral("resetZoom"));
    d->resetZoom->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    d->resetZoom->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    d->resetZoom->setStatusTip(tr("显示整条曲线"));
    d->resetZoom->setEnabled(false);
    connect(d->resetZoom, &QAction::triggered, this, &CurvePlot::resetZoom);
    addAction(d->resetZoom);
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
    QVector<Plotted> plotted;
    QList<QLineSeries *> rawSeries, densitySeries;
    const auto addSeries = [&](const ClotCurve::Segment &segment, const QString &name, QRgb color,
                               bool isRaw) {
        QVector<QPointF> points = finitePoints(segment, &x, isRaw ? &raw : &density);
        if (points.isEmpty())
            return;
        auto *series = new QLineSeries;
        series->setName(name);
        series->setPen(QPen(QColor(color), 2));
        (isRaw ? rawSeries : densitySeries).append(series);
        plotted.append({series, points, isRaw});
    };
    if (!segments.isEmpty()) {
        // toType converts the first segment only; the later ones keep their
        // raw values, in a curve stored as optical density as well.
        const int firstRaw = curve.type() == ClotCurve::Raw ? 0 : 1;
        for (int k = firstRaw; k < segments.size(); ++k) {
            addSeries(segments.at(k), tr("原始信号，第 %1 段").arg(k + 1),
                      rawColors[k % std::size(rawColors)], true);
        }
        addSeries(curve.toType(ClotCurve::OD).segments().constFirst(), tr("光密度，第 1 段"),
                  densityColor, false);
    }
    if (plotted.isEmpty()) {
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
    d->axes[CurvePlotPrivate::X] =
        addAxis(chart, tr("时间 (s)"), x, Margin::None, Qt::AlignBottom, allSeries);
    d->axes[CurvePlotPrivate::RawY] =
        addAxis(chart, tr("原始信号"), raw, Margin::Some, Qt::AlignLeft, rawSeries);
    d->axes[CurvePlotPrivate::DensityY] =
        addAxis(chart, tr("光密度"), density, Margin::Some, Qt::AlignRight, densitySeries);
    // One set of horizontal grid lines: two that do not meet only clutter.
    if (d->axes[CurvePlotPrivate::RawY].axis && d->axes[CurvePlotPrivate::DensityY].axis)
        d->axes[CurvePlotPrivate::DensityY].axis->setGridLineVisible(false);

    // Above the series, below nothing.
    d->rawMarker = new QGraphicsEllipseItem(-4, -4, 8, 8, chart);
    d->densityMarker = new QGraphicsEllipseItem(-4, -4, 8, 8, chart);
    for (QGraphicsEllipseItem *marker : {d->rawMarker, d->densityMarker}) {
        marker->setPen(QPen(Qt::white, 1.5));
        marker->setZValue(1000);
        marker->hide();
    }

    // The view hands over its old chart instead of deleting it.
    QChart *old = d->view->chart();
    d->view->setChart(chart);
    old->disconnect(this);
    delete old;
    d->plotted = plotted;
    d->shownColumns = 0;
    d->setReadout(QString());
    d->message->clear();
    d->layout->setCurrentWidget(d->view);
    d->rangesChanged();
    // Resizing the widget or the axes' labels changes the pixels across.
    connect(chart, &QChart::plotAreaChanged, this, [this] { d->thinOut(); });
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
    d->setReadout(QString());
    d->resetZoom->setEnabled(false);
}

QString CurvePlot::message() const
{
    return d->message->text();
}

QRectF CurvePlot::plotArea() const
{
    if (!d->hasChart())
        return QRectF();
    const QRectF area = d->plotArea();
    return area.translated(d->view->viewport()->mapTo(this, QPoint()));
}

void CurvePlot::zoomToArea(const QRectF &area)
{
    d->zoomToArea(area.translated(-d->view->viewport()->mapTo(this, QPoint())));
}

void CurvePlot::zoomBy(double factor, const QPointF &position)
{
    d->zoomBy(factor, position - d->view->viewport()->mapTo(this, QPoint()));
}

void CurvePlot::panBy(const QPointF &distance)
{
    d->panBy(distance);
}

void CurvePlot::resetZoom()
{
    if (!d->hasChart())
        return;
    bool changed = false;
    for (Axis &axis : d->axes)
        changed |= axis.reset();
    if (changed)
        d->rangesChanged();
}

bool CurvePlot::isZoomed() const
{
    return d->hasChart() && std::any_of(d->axes.cbegin(), d->axes.cend(), [](const Axis &axis) {
               return axis.isZoomed();
           });
}

QAction *CurvePlot::resetZoomAction() const
{
    return d->resetZoom;
}

QString CurvePlot::readout() const
{
    return d->readout;
}

bool CurvePlot::exportTo(const QString &fileName, QString *error)
{
#ifdef CURVEPLOT_SVG
    constexpr bool svgExport = true;
#else
    constexpr bool svgExport = false;
#endif
    const auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (!d->hasChart())
        return fail(tr("没有可以导出的曲线"));
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix != QLatin1String("png") && !(svgExport && suffix == QLatin1String("svg"))
        && suffix != QLatin1String("pdf"))
        return fail(tr("无法导出为 %1：请选择 PNG、SVG 或 PDF 文件").arg(fileName));

    // The markers follow the mouse; they are no part of the chart.
    d->setReadout(QString());
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return fail(tr("无法写入 %1：%2").arg(fileName, file.errorString()));
    bool drawn = true;
    if (suffix == QLatin1String("png")) {
        drawn = grab().save(&file, "PNG");
#ifdef CURVEPLOT_SVG
    } else if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size());
        svg.setViewBox(rect());
        svg.setTitle(d->title);
        QPainter painter;
        drawn = painter.begin(&svg);
        if (drawn)
            d->renderClipped(&painter);
#endif
    } else {
        QPdfWriter pdf(&file);
        pdf.setTitle(d->title);
        pdf.setCreator(QCoreApplication::applicationName());
        // A page of the widget's size, a pixel to a pixel: the legend's clipping
        // goes wrong when the painter is scaled.
        pdf.setResolution(96);
        pdf.setPageSize(QPageSize(QSizeF(width() * 0.75, height() * 0.75), QPageSize::Point));
        pdf.setPageMargins(QMarginsF());
        QPainter painter;
        drawn = painter.begin(&pdf);
        if (drawn)
            render(&painter);
    }
    if (!drawn || !file.commit())
        return fail(tr("无法写入 %1：%2").arg(fileName, file.errorString()));
    return true;
}
