#include "curvelistmodel.h"

#include <QtCore/QVector>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

namespace {

// Each column with the table's own name for it, shown as the header's tooltip.
struct ColumnHeader
{
    const char *title;
    const char *tableColumn;
};
const ColumnHeader headers[] = {
    {QT_TRANSLATE_NOOP("CurveListModel", "行"), "rowid"},
    {QT_TRANSLATE_NOOP("CurveListModel", "样本"), "patientId"},
    {QT_TRANSLATE_NOOP("CurveListModel", "项目"), "item"},
    {QT_TRANSLATE_NOOP("CurveListModel", "版本"), "version"},
    {QT_TRANSLATE_NOOP("CurveListModel", "字节"), "curve"},
};

// What tells one state of the table from another without reading it: rows
// are appended, and old ones may be deleted.
struct TableState
{
    bool readable = false;
    qint64 count = 0;
    qint64 lastRowId = 0;

    bool operator!=(const TableState &other) const
    {
        return readable != other.readable || count != other.count || lastRowId != other.lastRowId;
    }
};

} // namespace

class CurveListModelPrivate
{
public:
    // The values as stored, shown as they are.
    using Row = QVector<QVariant>;

    qint64 dataVersion() const;

    QSqlDatabase database;
    QVector<Row> rows;
    QString error;
    qint64 readVersion = -1;
    TableState readState;
};

// Moves whenever another connection commits to the file, in any journal
// mode and on any file system; -1 when it cannot be read.
qint64 CurveListModelPrivate::dataVersion() const
{
    if (!database.isOpen())
        return -1;
    QSqlQuery query(database);
    return query.exec(QStringLiteral("pragma data_version")) && query.next()
        ? query.value(0).toLongLong()
        : -1;
}

CurveListModel::CurveListModel(const QSqlDatabase &database, QObject *parent)
    : QAbstractTableModel(parent)
    , d(new CurveListModelPrivate)
{
    d->database = database;
}

CurveListModel::~CurveListModel() = default;

bool CurveListModel::reload()
{
    beginResetModel();
    d->rows.clear();
    d->error.clear();
    // Before the rows: a commit in between shows as a change next time.
    d->readVersion = d->dataVersion();
    if (!d->database.isOpen()) {
        d->error = tr("数据数据库 %1 没有打开。%2")
                       .arg(d->database.databaseName(), d->database.lastError().text());
    } else {
        // The byte count of the blob, also for a curve that was stored as text.
        QSqlQuery query(d->database);
        query.setForwardOnly(true);
        if (query.exec(QStringLiteral("select rowid, patientId, item, version, "
                                      "length(cast(curve as blob)) from curve order by rowid"))) {
            while (query.next()) {
                CurveListModelPrivate::Row row(ColumnCount);
                for (int column = 0; column < ColumnCount; ++column)
                    row[column] = query.value(column);
                d->rows.append(row);
            }
        }
        if (query.lastError().isValid()) {
            d->rows.clear();
            d->error = tr("无法读取表 curve：%1").arg(query.lastError().text());
        }
    }
    d->readState.readable = d->error.isEmpty();
    d->readState.count = d->rows.size();
    d->readState.lastRowId = d->rows.isEmpty() ? 0 : rowId(d->rows.size() - 1);
    endResetModel();
    return d->error.isEmpty();
}

QString CurveListModel::errorString() const
{
    return d->error;
}

// The data version alone would read the whole list again for every result
// the application saves into the other tables; the count and the last rowid
// come from the index, without reading the curves.
bool CurveListModel::tableChanged()
{
    const qint64 version = d->dataVersion();
    if (version == d->readVersion)
        return false;
    d->readVersion = version;
    TableState state;
    QSqlQuery query(d->database);
    if (query.exec(QStringLiteral("select count(*), max(rowid) from curve")) && query.next()) {
        state.readable = true;
        state.count = query.value(0).toLongLong();
        state.lastRowId = query.value(1).toLongLong();
    }
    return state != d->readState;
}

qint64 CurveListModel::rowId(int row) const
{
    return row >= 0 && row < d->rows.size() ? d->rows.at(row).at(RowColumn).toLongLong() : -1;
}

int CurveListModel::rowOf(qint64 id) const
{
    for (int row = 0; row < d->rows.size(); ++row) {
        if (rowId(row) == id)
            return row;
    }
    return -1;
}

QByteArray CurveListModel::curveBytes(int row) const
{
    if (row < 0 || row >= d->rows.size())
        return QByteArray();
    QSqlQuery query(d->database);
    query.prepare(QStringLiteral("select curve from curve where rowid = ?"));
    query.addBindValue(rowId(row));
    const QByteArray bytes =
        query.exec() && query.next() ? query.value(0).toByteArray() : QByteArray();
    query.finish();
    return bytes;
}

int CurveListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : d->rows.size();
}

int CurveListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CurveListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return d->rows.at(index.row()).at(index.column());
    case Qt::TextAlignmentRole:
        return int(index.column() == TestColumn ? Qt::AlignLeft | Qt::AlignVCenter
                                                : Qt::AlignRight | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant CurveListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case Qt::DisplayRole:
        return tr(headers[section].title);
    case Qt::ToolTipRole:
        return QLatin1String(headers[section].tableColumn);
    default:
        return QVariant();
    }
}
