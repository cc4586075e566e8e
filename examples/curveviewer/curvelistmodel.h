#ifndef CURVELISTMODEL_H
#define CURVELISTMODEL_H

#include <QtCore/QAbstractTableModel>

#include <memory>

class CurveListModelPrivate;
class QSqlDatabase;

// The rows of the table "curve" of a data database in the order they were
// stored, each with what the row holds beside its bytes. The bytes are read
// one curve at a time, when asked for. No statement stays open between calls,
// so the application can go on saving curves into the file meanwhile.
class CurveListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { RowColumn, SampleColumn, TestColumn, VersionColumn, SizeColumn, ColumnCount };

    explicit CurveListModel(const QSqlDatabase &database, QObject *parent = nullptr);
    ~CurveListModel() override;

    // Reads the list again. On failure the list is empty and errorString()
    // says why.
    bool reload();
    QString errorString() const;
    // Whether another connection has changed the table since the last
    // reload. Cheap enough to ask every second.
    bool tableChanged();

    qint64 rowId(int row) const;
    // The row that shows the table row with the rowid `id`, or -1.
    int rowOf(qint64 id) const;
    // The stored bytes of `row` as they are now in the file; empty when the
    // row holds none or is gone.
    QByteArray curveBytes(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::unique_ptr<CurveListModelPrivate> d;
};

#endif // CURVELISTMODEL_H
