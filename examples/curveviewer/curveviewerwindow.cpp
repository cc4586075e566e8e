#include "curveviewerwindow.h"

#include "curvelistmodel.h"
#include "curveplot.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QTimer>
#include <QtSql/QSqlDatabase>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QMessageBox>
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

// How often the table is looked at for curves saved by the application.
const int pollInterval = 1000;

class CurveViewerWindowPrivate
{
public:
    CurveListModel *model;
    QTableView *view;
    CurvePlot *plot;
    QLabel *readout;
    // The row plotted and its bytes: a reload that leaves both as they were
    // leaves the plot alone, zoom and all.
    qint64 plottedRow = -1;
    QByteArray plottedBytes;
    QString exportDirectory;
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

    auto *exportAction = new QAction(tr("导出图像..."), this);
    exportAction->setObjectName(QStringLiteral("export"));
    exportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    exportAction->setStatusTip(tr("把显示的曲线图保存为 PNG、SVG 或 PDF 文件"));
    connect(exportAction, &QAction::triggered, this, &CurveViewerWindow::exportPlot);

    // Ctrl+0 wherever the focus is in the window, not in the plot alone.
    QAction *resetZoom = d->plot->resetZoomAction();
    resetZoom->setShortcutContext(Qt::WindowShortcut);

    auto *quit = new QAction(tr("退出"), this);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu *file = menuBar()->addMenu(tr("文件(&F)"));
    file->addAction(reloadAction);
    file->addAction(exportAction);
    file->addSeparator();
    file->addAction(quit);
    QMenu *viewMenu = menuBar()->addMenu(tr("视图(&V)"));
    viewMenu->addAction(resetZoom);

    QToolBar *toolBar = addToolBar(tr("曲线"));
    toolBar->setObjectName(QStringLiteral("curveToolBar"));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toolBar->addAction(reloadAction);
    toolBar->addAction(resetZoom);
    toolBar->addAction(exportAction);

    d->readout = new QLabel;
    d->readout->setObjectName(QStringLiteral("readout"));
    statusBar()->addPermanentWidget(d->readout);
    connect(d->plot, &CurvePlot::readoutChanged, d->readout, &QLabel::setText);

    // PRAGMA data_version rather than watching the files: it moves on every
    // commit of another connection and on nothing else, whether the journal
    // is a file that comes and goes or a WAL that leaves data.db untouched
    // until a checkpoint, and on network drives that report no changes. A
    // file watcher also fires halfway through a transaction.
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this] {
        if (d->model->tableChanged())
            reload();
    });
    poll->start(pollInterval);

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
        showMessage(d->model->errorString());
        statusBar()->showMessage(d->model->errorString());
        return;
    }
    // Measures the rows in view only, however long the list.
    d->view->resizeColumnsToContents();
    const int count = d->model->rowCount();
    statusBar()->showMessage(tr("%n 条曲线", nullptr, count));
    if (count == 0) {
        showMessage(tr("表 curve 中没有曲线"));
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
    const qint64 id = d->model->rowId(row);
    const QByteArray bytes = d->model->curveBytes(row);
    if (id == d->plottedRow && bytes == d->plottedBytes)
        return;
    d->plottedRow = id;
    d->plottedBytes = bytes;
    d->plot->setStoredCurve(bytes);
}

void CurveViewerWindow::showMessage(const QString &text)
{
    d->plottedRow = -1;
    d->plottedBytes.clear();
    d->plot->showMessage(text);
}

// The plot as shown, to a file the user names; PNG, SVG or PDF by its suffix.
void CurveViewerWindow::exportPlot()
{
    const QString png = tr("PNG 图像 (*.png)"), svg = tr("SVG 图形 (*.svg)"),
                  pdf = tr("PDF 文档 (*.pdf)");
    QString filter = png;
    const QString suggested = d->plottedRow < 0 ? QStringLiteral("curve.png")
                                                : QStringLiteral("curve-%1.png").arg(d->plottedRow);
    QString fileName = QFileDialog::getSaveFileName(
        this, tr("导出图像"),
        QDir(d->exportDirectory.isEmpty() ? QDir::homePath() : d->exportDirectory)
            .filePath(suggested),
        QStringList{png, svg, pdf}.join(QStringLiteral(";;")), &filter);
    if (fileName.isEmpty())
        return;
    // A name without a known suffix gets the chosen type's.
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("svg")
        && suffix != QLatin1String("pdf")) {
        fileName += filter == svg ? QStringLiteral(".svg")
            : filter == pdf       ? QStringLiteral(".pdf")
                                  : QStringLiteral(".png");
    }
    d->exportDirectory = QFileInfo(fileName).absolutePath();
    QString error;
    if (!d->plot->exportTo(fileName, &error)) {
        QMessageBox::warning(this, tr("导出图像"), error);
        return;
    }
    statusBar()->showMessage(tr("已导出到 %1").arg(QDir::toNativeSeparators(fileName)), 5000);
}
