#ifndef CURVEPLOT_H
#define CURVEPLOT_H

#include <QtWidgets/QWidget>

#include <memory>

class ClotCurve;
class CurvePlotPrivate;
class QAction;

// A clot curve as a chart: the raw signal against the left axis, the optical
// density that toType(OD) makes of it against the right one, every segment a
// series of its own. Instead of a chart the plot can show a message, for
// bytes that hold no curve.
//
// The chart can be zoomed: drag a rectangle, turn the wheel (around the
// cursor), Ctrl++ and Ctrl+-; moved: middle button or Shift and drag, the
// arrow keys; and brought back by a double click or resetZoomAction(). Long
// curves are handed to the chart thinned out to what its pixels can show.
class CurvePlot : public QWidget
{
    Q_OBJECT

public:
    explicit CurvePlot(QWidget *parent = nullptr);
    ~CurvePlot() override;

    void setTitle(const QString &title);
    void setCurve(const ClotCurve &curve);
    // Plots the curve that `bytes` hold in the stored form, or shows why they
    // hold none. Returns whether a curve is plotted.
    bool setStoredCurve(const QByteArray &bytes);
    void showMessage(const QString &text);
    // What is shown instead of a chart; empty while a chart is shown.
    QString message() const;

    // Where the chart draws its series, in this widget's coordinates; empty
    // while a message is shown.
    QRectF plotArea() const;
    // Shows what the rectangle `area` (in this widget's coordinates) of the
    // plot area covers, on all axes. An area narrower or lower than a few
    // pixels zooms the other direction only.
    void zoomToArea(const QRectF &area);
    // Scales the shown ranges by `factor` (below 1 zooms in), keeping the
    // values under `position` where they are.
    void zoomBy(double factor, const QPointF &position);
    // Moves the shown ranges as if the curve were dragged by `distance` pixels.
    void panBy(const QPointF &distance);
    void resetZoom();
    bool isZoomed() const;
    // Ctrl+0; disabled while the whole curve is shown.
    QAction *resetZoomAction() const;

    // The time and the values of the point nearest the mouse in time; empty
    // while the mouse is not over the plot area.
    QString readout() const;

    // Writes the chart as it is shown, zoomed or not: a PNG picture of the
    // widget's size, or an SVG or a PDF drawing, by the suffix of `fileName`.
    bool exportTo(const QString &fileName, QString *error = nullptr);

Q_SIGNALS:
    void readoutChanged(const QString &text);

private:
    friend class CurvePlotPrivate;
    std::unique_ptr<CurvePlotPrivate> d;
};

#endif // CURVEPLOT_H
