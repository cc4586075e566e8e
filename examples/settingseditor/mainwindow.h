#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QtWidgets/QMainWindow>

class Profile;
class PropertyItemModel;
class QTreeView;

// The typed settings of one store as an editable tree. Every edit is stored
// at once; the action "revert" (还原) shows again what the store holds.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(Profile &profile, QWidget *parent = nullptr);

    PropertyItemModel *model() const;
    QTreeView *view() const;

private:
    PropertyItemModel *m_model;
    QTreeView *m_view;
};

#endif // MAINWINDOW_H
