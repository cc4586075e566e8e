#ifndef PROPERTYITEM_H
#define PROPERTYITEM_H

#include "core_global.h"

#include <QtCore/QAbstractItemModel>
#include <QtCore/QList>
#include <QtCore/QScopedPointer>
#include <QtCore/QString>
#include <QtCore/QVariant>

class PropertyItemModel;
class PropertyItemPrivate;

/**
 * One node of a name/value tree. An item owns its children; attached to a
 * PropertyItemModel it announces every change of structure and value through
 * that model. Application item classes derive from it, so the order of the
 * virtual operations below must stay as it is.
 *
 * @code
 * PropertyItemModel model;
 * auto *colours = new PropertyItem(QStringLiteral("颜色"), QVariant());
 * model.rootItem()->append(colours);
 * colours->append(new PropertyItem(QStringLiteral("color_of_waiting"), QColor(Qt::gray)));
 * view->setModel(&model); // name and value in two columns
 * @endcode
 *
 * @ingroup propertytree
 */
class CORE_EXPORT PropertyItem
{
public:
    PropertyItem();
    PropertyItem(const QString &name, const QVariant &value);
    /**
     * Copies carry the name, the role values and the flags only: the copy is
     * a free item without parent, model or children, and assigning leaves the
     * target where it stands in its tree. Sharing the child pointers would let
     * both items delete the same children.
     */
    PropertyItem(const PropertyItem &other);
    PropertyItem &operator=(const PropertyItem &other);
    /**
     * A destroyed item first leaves the list of a parent that still holds it,
     * then deletes its subtree.
     */
    virtual ~PropertyItem();

    virtual int type() const;
    virtual void setValue(const QVariant &value, bool notify);
    virtual void reset();
    virtual QVariant data(int role) const;
    virtual void setData(const QVariant &value, int role);

protected:
    virtual void childChanged(PropertyItem *child);

public:
    QString name() const;
    void setName(const QString &name);
    QVariant value() const;
    PropertyItem *parent() const;
    PropertyItemModel *model() const;
    QList<PropertyItem *> children() const;

    Qt::ItemFlags flags() const;
    void setFlags(Qt::ItemFlags flags);
    void changeFlags(Qt::ItemFlags flags, bool enable);
    bool isEditable() const;
    void setEditable(bool editable);

    QModelIndex index() const;
    QModelIndex valueIndex() const;

    /**
     * An item listed elsewhere is taken out of its old parent first, then
     * inserted here. Null items, items already listed here, this item and its
     * ancestors, and a model's root item are refused with a warning and leave
     * the tree untouched.
     */
    void append(PropertyItem *item);
    void insert(int position, PropertyItem *item);
    /** The removed item and its subtree are free again and belong to the caller. */
    void remove(PropertyItem *item);

protected:
    void setParentAndModel(PropertyItem *parent, PropertyItemModel *model);
    void notifyParent();
    void emitDataChanged();

private:
    friend class PropertyItemModel;
    explicit PropertyItem(PropertyItemModel *model);
    bool canAdopt(const PropertyItem *item) const;

    QScopedPointer<PropertyItemPrivate> d;
};

/**
 * A two-column tree model over an invisible root item: column 0 shows each
 * item's name, column 1 its value. Only name cells have children.
 *
 * @ingroup propertytree
 */
class CORE_EXPORT PropertyItemModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit PropertyItemModel(QObject *parent = nullptr);
    ~PropertyItemModel() override;

    PropertyItem *rootItem() const;
    void append(PropertyItem *item);

    PropertyItem *itemFromIndex(const QModelIndex &index) const;
    QModelIndex nameIndexFromItem(const PropertyItem *item) const;
    QModelIndex valueIndexFromItem(const PropertyItem *item) const;

    QModelIndex index(int row, int column,
                      const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QModelIndex buddy(const QModelIndex &index) const override;

public Q_SLOTS:
    void revert() override;

private:
    friend class PropertyItem;
    QModelIndex indexFromItem(const PropertyItem *item, int column) const;

    PropertyItem *const m_rootItem;
};

#endif // PROPERTYITEM_H
