#ifndef SETTINGSITEMS_H
#define SETTINGSITEMS_H

#include "propertyitem.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QColor>

class Profile;

// One typed setting of the store as an item of the property tree. The item
// shows what the store holds; an edit is converted to the setting's own type
// and stored persistently, the same as the typed setter would do.
class SettingItem : public PropertyItem
{
public:
    enum ItemType { StringItem = 1001, ColorItem, IntegerItem, BooleanItem };

    QString key() const;

    // Refuses a value that does not convert to the setting's type: the item
    // and the store keep the old one.
    void setValue(const QVariant &value, bool notify) override;
    // Re-reads the setting from the store; nothing is written.
    void reset() override;
    // The key as tooltip, so that it stays visible beside the label.
    QVariant data(int role) const override;

protected:
    SettingItem(Profile &profile, const QString &key, const QString &label,
                const QVariant &defaultValue);

    // The stored form as the typed getter returns it.
    virtual QVariant fromStore(const QVariant &stored) const = 0;
    // An edited value in the setting's type, or an invalid variant.
    virtual QVariant fromEditor(const QVariant &value) const = 0;

private:
    Profile &m_profile;
    const QString m_key;
    // What the library's own readers fall back on, shown while nothing is stored.
    const QVariant m_defaultValue;
};

template<typename T, SettingItem::ItemType Number>
class TypedSettingItem : public SettingItem
{
public:
    TypedSettingItem(Profile &profile, const QString &key, const QString &label,
                     const T &defaultValue = T())
        : SettingItem(profile, key, label, QVariant::fromValue(defaultValue))
    { }

    int type() const override { return Number; }

protected:
    QVariant fromStore(const QVariant &stored) const override
    {
        return QVariant::fromValue(stored.value<T>());
    }
    QVariant fromEditor(const QVariant &value) const override
    {
        QVariant typed = value;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        return typed.convert(QMetaType::fromType<T>()) ? typed : QVariant();
#else
        return typed.convert(qMetaTypeId<T>()) ? typed : QVariant();
#endif
    }
};

using StringSettingItem = TypedSettingItem<QString, SettingItem::StringItem>;
using IntegerSettingItem = TypedSettingItem<int, SettingItem::IntegerItem>;

// Shows "#rrggbb" with a swatch; the name is also what an editor edits, and
// any colour name the toolkit knows is taken.
class ColorSettingItem : public TypedSettingItem<QColor, SettingItem::ColorItem>
{
public:
    using TypedSettingItem::TypedSettingItem;

    QVariant data(int role) const override;

protected:
    QVariant fromEditor(const QVariant &value) const override;
};

// A check box instead of a text: the value cell is checkable, not editable.
class BooleanSettingItem : public TypedSettingItem<bool, SettingItem::BooleanItem>
{
public:
    BooleanSettingItem(Profile &profile, const QString &key, const QString &label,
                       bool defaultValue = false);

    QVariant data(int role) const override;
    void setData(const QVariant &value, int role) override;
};

class SettingsTree
{
    Q_DECLARE_TR_FUNCTIONS(SettingsTree)

public:
    // Appends the typed settings of profile to model, grouped under
    // top-level items, each item showing the setting's current value.
    static void build(PropertyItemModel *model, Profile &profile);
};

#endif // SETTINGSITEMS_H
