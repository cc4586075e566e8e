#include "profile.h"
#include "profile_p.h"

#include "perthread_p.h"
#include "variantconversion_p.h"

// The store's values: lookups from memory, changes to memory and on their
// way to the table, and the typed settings over both.

using ReadLocker = std::shared_lock<std::shared_mutex>;
using WriteLocker = std::unique_lock<std::shared_mutex>;

ProfilePrivate::ThreadCache *ProfilePrivate::threadCache() const
{
    ThreadCache *cache = PerThread<ThreadCache>::get();
    const quint64 now = changeCount();
    if (cache && Q_UNLIKELY(cache->store != this || cache->changes != now)) {
        cache->values.clear();
        cache->store = this;
        cache->changes = now;
    }
    return cache;
}

QVariant Profile::value(const QString &key, const QVariant &defaultValue)
{
    if (ProfilePrivate::ThreadCache *cache = d->threadCache()) {
        auto it = cache->values.constFind(key);
        if (it == cache->values.constEnd()) {
            const ReadLocker locker(d->lock);
            const auto stored = d->values.constFind(key);
            if (stored != d->values.constEnd())
                it = cache->values.insert(key, *stored);
        }
        if (it != cache->values.constEnd())
            return it->isValid() ? *it : defaultValue;
    } else {
        // The thread is ending and has no cache any more.
        const ReadLocker locker(d->lock);
        const auto stored = d->values.constFind(key);
        if (stored != d->values.constEnd())
            return stored->isValid() ? *stored : defaultValue;
    }
    const WriteLocker locker(d->lock);
    // Another thread may have set the key meanwhile; recording the key must
    // not wipe out that value.
    if (!d->values.contains(key)) {
        d->values.insert(key, QVariant());
        ProfilePrivate::changed();
    }
    return defaultValue;
}

QVariant Profile::value2(const QString &key, const QString &fallbackKey,
                         const QVariant &defaultValue)
{
    const QVariant first = value(key);
    return first.isValid() ? first : value(fallbackKey, defaultValue);
}

void Profile::setValue(const QString &key, const QVariant &value, bool persist)
{
    bool unstored = false;
    {
        // Memory and the pending change in one step: each change is either
        // on its way to the table or reported as not stored.
        const WriteLocker locker(d->lock);
        d->values.insert(key, value);
        ProfilePrivate::changed();
        unstored = persist && !d->queueStore(key, value);
    }
    if (unstored)
        d->warnUnstored("setValue", key);
    if (persist) {
        // Emitted unlocked: slots may call back into the store.
        Q_EMIT valueChanged(key, value);
    }
}

void Profile::remove(const QString &key)
{
    bool unstored = false;
    {
        const WriteLocker locker(d->lock);
        d->values.remove(key);
        ProfilePrivate::changed();
        unstored = !d->queueStore(key, QVariant());
    }
    if (unstored)
        d->warnUnstored("remove", key);
    Q_EMIT keyRemoved(key);
}

QStringList Profile::keys() const
{
    const ReadLocker locker(d->lock);
    return d->values.keys();
}

namespace {

// What the library passes when it reads its own settings. Texts with a
// translation context go through Profile::tr at the time of the call, so a
// translation file can replace them; the sample prefixes are passed as they are.
struct LibraryDefault
{
    const char *key;
    const char *text; // null for a colour
    bool translated;
    QRgb color;
};

const QRgb red = qRgb(255, 0, 0);
const QRgb orange = qRgb(255, 170, 0);

const LibraryDefault libraryDefaults[] = {
    {"statim_sample_prefix", "S", false, 0},
    {"qc_sample_prefix", "QC", false, 0},
    {"result_can_not_be_calculated", QT_TRANSLATE_NOOP("Profile", "---.-"), true, 0},
    {"result_not_clotted", QT_TRANSLATE_NOOP("Profile", "不凝"), true, 0},
    {"dilution_result_flag", QT_TRANSLATE_NOOP("Profile", "!"), true, 0},
    {"lower_report_limit_flag", QT_TRANSLATE_NOOP("Profile", "<"), true, 0},
    {"upper_report_limit_flag", QT_TRANSLATE_NOOP("Profile", ">"), true, 0},
    {"lower_mark_limit_flag", QT_TRANSLATE_NOOP("Profile", "↓"), true, 0},
    {"upper_mark_limit_flag", QT_TRANSLATE_NOOP("Profile", "↑"), true, 0},
    {"manual_input_flag", QT_TRANSLATE_NOOP("Profile", "M"), true, 0},
    {"color_of_null_result", nullptr, false, red},
    {"color_of_lower_report", nullptr, false, red},
    {"color_of_upper_report", nullptr, false, red},
    {"color_of_lower_mark", nullptr, false, orange},
    {"color_of_upper_mark", nullptr, false, orange},
};

} // namespace

QVariant Profile::libraryDefault(const QString &key)
{
    for (const LibraryDefault &entry : libraryDefaults) {
        if (key != QLatin1String(entry.key))
            continue;
        if (!entry.text)
            return QColor(entry.color);
        return entry.translated ? tr(entry.text) : QString::fromLatin1(entry.text);
    }
    return QVariant();
}

template<typename T>
T Profile::typedValue(const QString &key, const T &defaultValue)
{
    // A T unchanged, anything else converted as Qt 5 converts it, and the
    // empty T when no conversion exists.
    return VariantConversion::value<T>(value(key, QVariant::fromValue(defaultValue)));
}

template<typename T>
void Profile::setTypedValue(const QString &key, const T &value, bool persist)
{
    setValue(key, QVariant::fromValue(value), persist);
}

#define PROFILE_DEFINE_SETTING(Type, name) \
    void Profile::set_##name(const Type &value, bool persist) \
    { \
        setTypedValue(QStringLiteral(#name), value, persist); \
    } \
    Type Profile::name(const Type &defaultValue) \
    { \
        return typedValue(QStringLiteral(#name), defaultValue); \
    }
PROFILE_TYPED_SETTINGS(PROFILE_DEFINE_SETTING)
#undef PROFILE_DEFINE_SETTING
