#include "curveviewerwindow.h"

#include "curvelistmodel.h"
#include "curveplot.h"

#include <QtCore/QDir>
#include <QtSql/QSqlDatabase>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTableView>
#include <QtWidgets/QToolBar>
// QAction moved from the widgets module to the GUI module in Qt 6.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtGui/QAction>
#else
#include <QtWidgets/QAction>
#endif

class CurveViewerWindowPrivate
{
public:
    CurveListModel *model;
    QTableView *view;
    CurvePlot *plot;
};

CurveViewerWindow::CurveViewerWindow(const QSqlDatabase &database, QWidget *parent)
    : QMainWindow(parent)
    , d(new CurveViewerWindowPrivate)
{
    setWindowTitle(tr("曲线查看器 - %1").arg(QDir::toNativeSeparators(database.databaseName())));

    d->model = new CurveListModel(database, this);
    d->view = new QTableView;
    d->view->setModel(d->model);
    d->view->setSelectionBehavior(QAbstractItemView::SelectRows);
    d->view->setSelectionMode(QAbstractItemView::SingleSelection);
    d->view->setAlternatingRowColors(true);
    d->view->verticalHeader()->hide();
    d->view->horizontalHeader()->setStretchLastSection(true);
    connect(d->view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { showRow(current.row()); });

    d->plot = new CurvePlot;
    auto *splitter = new QSplitter(this);
    splitter->addWidget(d->view);
    splitter->addWidget(d->plot);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({330, 770});
    setCentralWidget(splitter);

    auto *reloadAction = new QAction(tr("刷新"), this);
    reloadAction->setObjectName(QStringLiteral("reload"));
    reloadAction->setShortcut(QKeySequence::Refresh);
    reloadAction->setStatusTip(tr("重新读取表 curve，显示此后保存的曲线"));
    connect(reloadAction, &QAction::triggered, this, &CurveViewerWindow::reload);

    auto *quit = new QAction(tr("退出"), this);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu *file = menuBar()->addMenu(tr("文件(&F)"));
    file->addAction(reloadAction);
    file->addSeparator();
    file->addAction(quit);

    QToolBar *toolBar = addToolBar(tr("曲线"));
    toolBar->setObjectName(QStringLiteral("curveToolBar"));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toolBar->addAction(reloadAction);

    reload();
    resize(1100, 620);
}

CurveViewerWindow::~CurveViewerWindow() = default;

CurveListModel *CurveViewerWindow::model() const
{
    return d->model;
}

QTableView *CurveViewerWindow::view() const
{
    return d->view;
}

CurvePlot *CurveViewerWindow::plot() const
{
    return d->plot;
}

void CurveViewerWindow::reload()
{
    const qint64 selected = d->model->rowId(d->view->currentIndex().row());
    if (!d->model->reload()) {
        d->plot->showMessage(d->model->errorString());
        statusBar()->showMessage(d->model->errorString());
        return;
    }
    // Measures the rows in view only, however long the list.
    d->view->resizeColumnsToContents();
    const int count = d->model->rowCount();
    statusBar()->showMessage(tr("%n 条曲线", nullptr, count));
    if (count == 0) {
        d->plot->showMessage(tr("表 curve 中没有曲线"));
        return;
    }
    const int row = d->model->rowOf(selected);
    // The reset left no current row, so setting one always shows it.
    d->view->setCurrentIndex(d->model->index(row < 0 ? count - 1 : row, 0));
}

void CurveViewerWindow::showRow(int row)
{
    if (row < 0)
        return;
    const auto stored = [this, row](int column) {
        return d->model->index(row, column).data().toString();
    };
    d->plot->setTitle(tr("样本 %1，项目 %2，版本 %3")
                          .arg(stored(CurveListModel::SampleColumn),
                               stored(CurveListModel::TestColumn),
                               stored(CurveListModel::VersionColumn)));
    d->plot->setStoredCurve(d->model->curveBytes(row));
}
