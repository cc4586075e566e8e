#ifndef CURVEPLOT_H
#define CURVEPLOT_H

#include <QtWidgets/QWidget>

#include <memory>

class ClotCurve;
class CurvePlotPrivate;

// A clot curve as a chart: the raw signal against the left axis, the optical
// density that toType(OD) makes of it against the right one, every segment a
// series of its own. Instead of a chart the plot can show a message, for
// bytes that hold no curve.
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

private:
    std::unique_ptr<CurvePlotPrivate> d;
};

#endif // CURVEPLOT_H
