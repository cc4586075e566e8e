#include "mainwindow.h"

#include "profile.h"
#include "settingsitems.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QStyledItemDelegate>
#include <QtWidgets/QToolBar>
#include <QtWidgets/QTreeView>
// QAction moved from the widgets module to the GUI module in Qt 6.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtGui/QAction>
#else
#include <QtWidgets/QAction>
#endif

namespace {

// The model hands both cells of a row the same swatch and check state; only
// the value cell shows them, since the name cell cannot change them.
class ValueCellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() == 0)
            option->features &=
                ~(QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasCheckIndicator);
    }
};

} // namespace

MainWindow::MainWindow(Profile &profile, QWidget *parent)
    : QMainWindow(parent)
    , m_model(new PropertyItemModel(this))
    , m_view(new QTreeView(this))
{
    setWindowTitle(
        tr("设置编辑器 - %1").arg(QDir::toNativeSeparators(profile.workdir().absolutePath())));
    SettingsTree::build(m_model, profile);

    m_view->setModel(m_model);
    m_view->setItemDelegate(new ValueCellDelegate(m_view));
    m_view->setAlternatingRowColors(true);
    m_view->setUniformRowHeights(true);
    m_view->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_view->expandAll();
    setCentralWidget(m_view);

    auto *revert = new QAction(tr("还原"), this);
    revert->setObjectName(QStringLiteral("revert"));
    revert->setShortcut(QKeySequence::Refresh);
    revert->setStatusTip(tr("重新显示设置存储中的值"));
    connect(revert, &QAction::triggered, m_model, &PropertyItemModel::revert);

    auto *quit = new QAction(tr("退出"), this);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu *file = menuBar()->addMenu(tr("文件(&F)"));
    file->addAction(revert);
    file->addSeparator();
    file->addAction(quit);

    QToolBar *toolBar = addToolBar(tr("设置"));
    toolBar->setObjectName(QStringLiteral("settingsToolBar"));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toolBar->addAction(revert);

    resize(560, 720);
}

PropertyItemModel *MainWindow::model() const
{
    return m_model;
}

QTreeView *MainWindow::view() const
{
    return m_view;
}
