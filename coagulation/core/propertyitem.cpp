#include "propertyitem.h"

#include "corelogging_p.h"
#include "variantconversion_p.h"

#include <QtCore/QMap>
#include <QtCore/QtDebug>

#include <utility>

// ---------------------------------------------------------------------------
// PropertyItem

class PropertyItemPrivate
{
public:
    QString name;
    QMap<int, QVariant> values; // role 2 is never stored: it is folded into role 0
    PropertyItem *parent = nullptr;
    PropertyItemModel *model = nullptr;
    QList<PropertyItem *> children;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
};

PropertyItem::PropertyItem()
    : d(new PropertyItemPrivate)
{ }

PropertyItem::PropertyItem(const QString &name, const QVariant &value)
    : PropertyItem()
{
    d->name = name;
    d->values.insert(Qt::DisplayRole, value);
}

PropertyItem::PropertyItem(PropertyItemModel *model)
    : PropertyItem()
{
    d->model = model;
}

PropertyItem::PropertyItem(const PropertyItem &other)
    : PropertyItem()
{
    *this = other;
}

PropertyItem &PropertyItem::operator=(const PropertyItem &other)
{
    if (this != &other) {
        d->name = other.d->name;
        d->values = other.d->values;
        d->flags = other.d->flags;
    }
    emitDataChanged();
    return *this;
}

PropertyItem::~PropertyItem()
{
    if (d->parent)
        d->parent->remove(this);
    // The children no longer look back at this half-destroyed item.
    const QList<PropertyItem *> children = std::exchange(d->children, {});
    for (PropertyItem *child : children) {
        child->d->parent = nullptr;
        delete child;
    }
}

int PropertyItem::type() const
{
    return 0;
}

void PropertyItem::setValue(const QVariant &value, bool notify)
{
    d->values.insert(Qt::DisplayRole, value);
    emitDataChanged();
    if (notify)
        notifyParent();
}

void PropertyItem::reset()
{
    const QList<PropertyItem *> children = d->children;
    for (PropertyItem *child : children)
        child->reset();
}

QVariant PropertyItem::data(int role) const
{
    return d->values.value(role);
}

void PropertyItem::setData(const QVariant &value, int role)
{
    if (role == Qt::EditRole)
        role = Qt::DisplayRole;
    // Compared as under Qt 5, so that both builds announce the same changes:
    // a colour name over that colour, say, is no change.
    if (VariantConversion::equal(d->values.value(role), value))
        return;
    if (role == Qt::DisplayRole) {
        setValue(value, true);
        return;
    }
    if (value.isValid())
        d->values.insert(role, value);
    else
        d->values.remove(role);
    emitDataChanged();
}

void PropertyItem::childChanged(PropertyItem *child)
{
    Q_UNUSED(child)
    notifyParent();
}

QString PropertyItem::name() const
{
    return d->name;
}

void PropertyItem::setName(const QString &name)
{
    d->name = name;
}

QVariant PropertyItem::value() const
{
    return d->values.value(Qt::DisplayRole);
}

PropertyItem *PropertyItem::parent() const
{
    return d->parent;
}

PropertyItemModel *PropertyItem::model() const
{
    return d->model;
}

QList<PropertyItem *> PropertyItem::children() const
{
    return d->children;
}

Qt::ItemFlags PropertyItem::flags() const
{
    return d->flags;
}

void PropertyItem::setFlags(Qt::ItemFlags flags)
{
    d->flags = flags;
}

void PropertyItem::changeFlags(Qt::ItemFlags flags, bool enable)
{
    if (enable)
        d->flags |= flags;
    else
        d->flags &= ~flags;
}

bool PropertyItem::isEditable() const
{
    return d->flags.testFlag(Qt::ItemIsEditable);
}

void PropertyItem::setEditable(bool editable)
{
    changeFlags(Qt::ItemIsEditable, editable);
}

QModelIndex PropertyItem::index() const
{
    return d->model ? d->model->nameIndexFromItem(this) : QModelIndex();
}

QModelIndex PropertyItem::valueIndex() const
{
    return d->model ? d->model->valueIndexFromItem(this) : QModelIndex();
}

bool PropertyItem::canAdopt(const PropertyItem *item) const
{
    if (!item) {
        qCWarning(lcCore, "PropertyItem: cannot add a null item");
        return false;
    }
    if (item->d->parent == this) {
        qCWarning(lcCore, "PropertyItem: the item is already a child of this item");
        return false;
    }
    for (const PropertyItem *ancestor = this; ancestor; ancestor = ancestor->d->parent) {
        if (ancestor == item) {
            qCWarning(lcCore, "PropertyItem: cannot add an item into its own subtree");
            return false;
        }
    }
    if (item->d->model && item->d->model->m_rootItem == item) {
        qCWarning(lcCore, "PropertyItem: cannot add the root item of a model");
        return false;
    }
    return true;
}

void PropertyItem::append(PropertyItem *item)
{
    insert(d->children.size(), item);
}

void PropertyItem::insert(int position, PropertyItem *item)
{
    if (!canAdopt(item))
        return;
    // A move leaves the old parent completely, announced there, before the
    // insertion here is announced: each signal sees one consistent tree and
    // carries indexes that are valid when it is delivered.
    if (item->d->parent)
        item->d->parent->remove(item);

    position = qBound(0, position, int(d->children.size()));
    if (d->model)
        d->model->beginInsertRows(index(), position, position);
    d->children.insert(position, item);
    item->setParentAndModel(this, d->model);
    if (d->model)
        d->model->endInsertRows();
}

void PropertyItem::remove(PropertyItem *item)
{
    const int row = d->children.indexOf(item);
    if (row < 0)
        return;
    if (d->model)
        d->model->beginRemoveRows(index(), row, row);
    d->children.removeAt(row);
    item->d->parent = nullptr;
    item->setParentAndModel(nullptr, nullptr);
    if (d->model)
        d->model->endRemoveRows();
}

void PropertyItem::setParentAndModel(PropertyItem *parent, PropertyItemModel *model)
{
    if (d->parent && d->parent != parent)
        d->parent->remove(this);
    if (model != d->model) {
        const QList<PropertyItem *> children = d->children;
        for (PropertyItem *child : children)
            child->setParentAndModel(this, model);
    }
    d->parent = parent;
    d->model = model;
}

void PropertyItem::notifyParent()
{
    if (d->parent)
        d->parent->childChanged(this);
}

void PropertyItem::emitDataChanged()
{
    if (!d->model)
        return;
    // The root item has no cell to announce.
    const QModelIndex cell = valueIndex();
    if (cell.isValid())
        Q_EMIT d->model->dataChanged(cell, cell);
}

// ---------------------------------------------------------------------------
// PropertyItemModel

PropertyItemModel::PropertyItemModel(QObject *parent)
    : QAbstractItemModel(parent)
    , m_rootItem(new PropertyItem(this))
{ }

PropertyItemModel::~PropertyItemModel()
{
    delete m_rootItem;
}

PropertyItem *PropertyItemModel::rootItem() const
{
    return m_rootItem;
}

void PropertyItemModel::append(PropertyItem *item)
{
    m_rootItem->append(item);
}

PropertyItem *PropertyItemModel::itemFromIndex(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<PropertyItem *>(index.internalPointer()) : m_rootItem;
}

QModelIndex PropertyItemModel::indexFromItem(const PropertyItem *item, int column) const
{
    if (!item || item == m_rootItem || !item->d->parent)
        return QModelIndex();
    const int row = item->d->parent->d->children.indexOf(const_cast<PropertyItem *>(item));
    if (row < 0)
        return QModelIndex();
    return createIndex(row, column, const_cast<PropertyItem *>(item));
}

QModelIndex PropertyItemModel::nameIndexFromItem(const PropertyItem *item) const
{
    return indexFromItem(item, 0);
}

QModelIndex PropertyItemModel::valueIndexFromItem(const PropertyItem *item) const
{
    return indexFromItem(item, 1);
}

QModelIndex PropertyItemModel::index(int row, int column, const QModelIndex &parent) const
{
    // Only name cells have children, as in the toolkit's own tree models:
    // parent(index(r, c, p)) == p must hold for every index handed out.
    if (parent.isValid() && parent.column() != 0)
        return QModelIndex();
    const PropertyItem *item = itemFromIndex(parent);
    if (!item || uint(row) >= uint(item->d->children.size()) || uint(column) > 1u)
        return QModelIndex();
    return createIndex(row, column, item->d->children.at(row));
}

QModelIndex PropertyItemModel::parent(const QModelIndex &index) const
{
    const PropertyItem *item = itemFromIndex(index);
    if (!item || item == m_rootItem)
        return QModelIndex();
    return nameIndexFromItem(item->d->parent);
}

int PropertyItemModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    const PropertyItem *item = itemFromIndex(parent);
    return item ? item->d->children.size() : 0;
}

int PropertyItemModel::columnCount(const QModelIndex &parent) const
{
    Q_UNUSED(parent)
    return 2;
}

QVariant PropertyItemModel::data(const QModelIndex &index, int role) const
{
    const PropertyItem *item = index.isValid() ? itemFromIndex(index) : nullptr;
    if (!item)
        return QVariant();
    // Display and editor see the same value.
    if (role == Qt::EditRole)
        role = Qt::DisplayRole;
    if (role == Qt::DisplayRole && index.column() == 0)
        return item->name();
    return item->data(role);
}

bool PropertyItemModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.column() != 1)
        return false;
    PropertyItem *item = itemFromIndex(index);
    if (!item)
        return false;
    item->setData(value, role);
    return true;
}

QVariant PropertyItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    // Qt 5 reads tr() source texts as UTF-8 always, so the Chinese texts come
    // out right without setting a codec for translations first.
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return section == 0 ? tr("名称") : tr("值");
    return QAbstractItemModel::headerData(section, orientation, role);
}

Qt::ItemFlags PropertyItemModel::flags(const QModelIndex &index) const
{
    const PropertyItem *item = index.isValid() ? itemFromIndex(index) : nullptr;
    if (!item)
        return Qt::NoItemFlags;
    if (index.column() == 0)
        return item->flags() & ~Qt::ItemIsEditable;
    return item->flags();
}

QModelIndex PropertyItemModel::buddy(const QModelIndex &index) const
{
    if (index.isValid() && index.column() == 0)
        return this->index(index.row(), 1, parent(index));
    return index;
}

void PropertyItemModel::revert()
{
    m_rootItem->reset();
}
