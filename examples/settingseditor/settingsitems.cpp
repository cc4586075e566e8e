#include "settingsitems.h"

#include "profile.h"

#include <QtCore/QHash>

#include <vector>

// ---------------------------------------------------------------------------
// SettingItem

SettingItem::SettingItem(Profile &profile, const QString &key, const QString &label,
                         const QVariant &defaultValue)
    : PropertyItem(label, QVariant())
    , m_profile(profile)
    , m_key(key)
    , m_defaultValue(defaultValue)
{ }

QString SettingItem::key() const
{
    return m_key;
}

void SettingItem::setValue(const QVariant &value, bool notify)
{
    const QVariant typed = fromEditor(value);
    if (!typed.isValid())
        return;
    m_profile.setValue(m_key, typed);
    PropertyItem::setValue(typed, notify);
}

void SettingItem::reset()
{
    PropertyItem::setValue(fromStore(m_profile.value(m_key, m_defaultValue)), false);
    PropertyItem::reset();
}

QVariant SettingItem::data(int role) const
{
    if (role == Qt::ToolTipRole)
        return m_key;
    return PropertyItem::data(role);
}

// ---------------------------------------------------------------------------
// ColorSettingItem

QVariant ColorSettingItem::data(int role) const
{
    const QColor color = value().value<QColor>();
    switch (role) {
    case Qt::DisplayRole:
        return color.isValid() ? color.name() : QString();
    case Qt::DecorationRole:
        return color.isValid() ? QVariant(color) : QVariant();
    default:
        return TypedSettingItem::data(role);
    }
}

QVariant ColorSettingItem::fromEditor(const QVariant &value) const
{
    // An invalid colour would be stored as such, and every reader would get
    // it instead of its own default.
    const QVariant typed = TypedSettingItem::fromEditor(value);
    return typed.value<QColor>().isValid() ? typed : QVariant();
}

// ---------------------------------------------------------------------------
// BooleanSettingItem

BooleanSettingItem::BooleanSettingItem(Profile &profile, const QString &key, const QString &label,
                                       bool defaultValue)
    : TypedSettingItem(profile, key, label, defaultValue)
{
    setEditable(false);
    changeFlags(Qt::ItemIsUserCheckable, true);
}

QVariant BooleanSettingItem::data(int role) const
{
    switch (role) {
    case Qt::DisplayRole:
        return QVariant();
    case Qt::CheckStateRole:
        return int(value().toBool() ? Qt::Checked : Qt::Unchecked);
    default:
        return TypedSettingItem::data(role);
    }
}

void BooleanSettingItem::setData(const QVariant &value, int role)
{
    // Views toggle the check box through the check state.
    if (role == Qt::CheckStateRole)
        TypedSettingItem::setData(value.toInt() == Qt::Checked, Qt::DisplayRole);
    else
        TypedSettingItem::setData(value, role);
}

// ---------------------------------------------------------------------------
// SettingsTree

namespace {

template<typename T>
struct ItemClass;
template<>
struct ItemClass<QString>
{
    using type = StringSettingItem;
};
template<>
struct ItemClass<QColor>
{
    using type = ColorSettingItem;
};
template<>
struct ItemClass<int>
{
    using type = IntegerSettingItem;
};
template<>
struct ItemClass<bool>
{
    using type = BooleanSettingItem;
};

using ItemFactory = SettingItem *(*)(Profile &, const QString &, const QString &);

// A setting nobody has stored shows what the library's own readers fall back
// on (the empty value for the settings only the application reads).
template<typename T>
SettingItem *createItem(Profile &profile, const QString &key, const QString &label)
{
    return new
        typename ItemClass<T>::type(profile, key, label, Profile::libraryDefault(key).value<T>());
}

// Each setting gets the item class of its typed accessors' type.
ItemFactory itemFactory(const QString &key)
{
#define SETTING_FACTORY(Type, name) {QStringLiteral(#name), &createItem<Type>},
    static const QHash<QString, ItemFactory> factories = {PROFILE_TYPED_SETTINGS(SETTING_FACTORY)};
#undef SETTING_FACTORY
    return factories.value(key);
}

struct Setting
{
    const char *key;
    const char *label;
};

struct Group
{
    const char *label;
    std::vector<Setting> settings;
};

} // namespace

void SettingsTree::build(PropertyItemModel *model, Profile &profile)
{
    const Group groups[] = {
        {QT_TR_NOOP("样本前缀"),
         {
             {"statim_sample_prefix", QT_TR_NOOP("急诊样本前缀")},
             {"qc_sample_prefix", QT_TR_NOOP("质控样本前缀")},
         }},
        {QT_TR_NOOP("结果文字"),
         {
             {"result_is_preparing", QT_TR_NOOP("准备中")},
             {"result_can_not_be_calculated", QT_TR_NOOP("无法计算")},
             {"result_is_incubating", QT_TR_NOOP("孵育中")},
             {"result_is_analysing", QT_TR_NOOP("分析中")},
             {"result_not_clotted", QT_TR_NOOP("不凝")},
         }},
        {QT_TR_NOOP("标志符号"),
         {
             {"dilution_result_flag", QT_TR_NOOP("稀释结果")},
             {"lower_report_limit_flag", QT_TR_NOOP("低于报告下限")},
             {"upper_report_limit_flag", QT_TR_NOOP("高于报告上限")},
             {"lower_mark_limit_flag", QT_TR_NOOP("低于标记下限")},
             {"upper_mark_limit_flag", QT_TR_NOOP("高于标记上限")},
             {"manual_input_flag", QT_TR_NOOP("手工输入")},
         }},
        {QT_TR_NOOP("颜色"),
         {
             {"color_of_waiting", QT_TR_NOOP("等待")},
             {"color_of_dispensing", QT_TR_NOOP("加样")},
             {"color_of_incubating", QT_TR_NOOP("孵育")},
             {"color_of_analysing", QT_TR_NOOP("分析")},
             {"color_of_null_result", QT_TR_NOOP("无结果")},
             {"color_of_lower_report", QT_TR_NOOP("低于报告下限")},
             {"color_of_upper_report", QT_TR_NOOP("高于报告上限")},
             {"color_of_lower_mark", QT_TR_NOOP("低于标记下限")},
             {"color_of_upper_mark", QT_TR_NOOP("高于标记上限")},
         }},
        {QT_TR_NOOP("视图"),
         {
             {"analysis_display_assay", QT_TR_NOOP("分析界面显示的项目")},
             {"patient_display_fields", QT_TR_NOOP("病人信息显示的字段")},
         }},
        {QT_TR_NOOP("质控"),
         {
             {"max_qc_file", QT_TR_NOOP("最大质控文件数")},
             {"qc_method", QT_TR_NOOP("质控方法")},
         }},
        {QT_TR_NOOP("仪器"),
         {
             {"hospital", QT_TR_NOOP("医院名称")},
             {"is_touch_screen", QT_TR_NOOP("触摸屏")},
         }},
    };

    for (const Group &group : groups) {
        auto *groupItem = new PropertyItem(tr(group.label), QVariant());
        groupItem->setEditable(false);
        for (const Setting &setting : group.settings) {
            const QString key = QLatin1String(setting.key);
            const ItemFactory create = itemFactory(key);
            Q_ASSERT_X(create, "SettingsTree::build", "not a typed setting of Profile");
            groupItem->append(create(profile, key, tr(setting.label)));
        }
        // Read before the group is shown: no view hears of the first values.
        groupItem->reset();
        model->append(groupItem);
    }
}
