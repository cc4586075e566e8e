#ifndef CURVEVIEWERWINDOW_H
#define CURVEVIEWERWINDOW_H

#include <QtWidgets/QMainWindow>

#include <memory>

class CurveListModel;
class CurvePlot;
class CurveViewerWindowPrivate;
class QSqlDatabase;
class QTableView;

// The curves of a data database: the rows of the table "curve" on the left,
// the selected one plotted on the right. The newest curve is selected first;
// curves saved or deleted meanwhile show up within a second.
class CurveViewerWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit CurveViewerWindow(const QSqlDatabase &database, QWidget *parent = nullptr);
    ~CurveViewerWindow() override;

    CurveListModel *model() const;
    QTableView *view() const;
    CurvePlot *plot() const;

    // Reads the list again, for the curves saved since; the selected row stays
    // selected while it is there, zoomed as it was.
    void reload();

private:
    void showRow(int row);
    void showMessage(const QString &text);
    void exportPlot();

    std::unique_ptr<CurveViewerWindowPrivate> d;
};

#endif // CURVEVIEWERWINDOW_H
