#include "profile.h"
#include "profile_p.h"

#include "perthread_p.h"
#include "storedvalue_p.h"
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

QVariant ProfilePrivate::stored(const QString &key, bool *found)
{
    QVariant value;
    {
        const ReadLocker locker(lock);
        const auto it = values.constFind(key);
        *found = it != values.constEnd();
        if (!*found || !StoredValue::isUndecoded(*it))
            return *found ? *it : QVariant();
        value = *it;
    }
    const QVariant decoded = StoredValue::decode(value, key);
    const WriteLocker locker(lock);
    const auto it = values.find(key);
    // Unless another thread set the key meanwhile, whose value stands.
    if (it != values.end() && StoredValue::isUndecoded(*it))
        *it = decoded;
    return it != values.end() ? *it : decoded;
}

QVariant Profile::value(const QString &key, const QVariant &defaultValue)
{
    bool found = false;
    if (ProfilePrivate::ThreadCache *cache = d->threadCache()) {
        auto it = cache->values.constFind(key);
        if (it == cache->values.constEnd()) {
            const QVariant stored = d->stored(key, &found);
            if (found)
                it = cache->values.insert(key, stored);
        }
        if (it != cache->values.constEnd())
            return it->isValid() ? *it : defaultValue;
    } else {
        // The thread is ending and has no cache any more.
        const QVariant stored = d->stored(key, &found);
        if (found)
            return stored.isValid() ? stored : defaultValue;
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

// What the library passes when it reads its own settings, from the list of
// settings. Translated texts go through Profile::tr at the time of the call,
// so a translation file can replace them.
struct LibraryDefault
{
    enum Kind { None, Verbatim, Translated, Colour };
    Kind kind = None;
    const char *text = nullptr;
    QRgb colour = 0;
};

constexpr LibraryDefault verbatim(const char *text)
{
    return {LibraryDefault::Verbatim, text, 0};
}

constexpr LibraryDefault translated(const char *text)
{
    return {LibraryDefault::Translated, text, 0};
}

constexpr LibraryDefault colour(int red, int green, int blue)
{
    return {LibraryDefault::Colour, nullptr, qRgb(red, green, blue)};
}

const struct
{
    const char *key;
    LibraryDefault value;
} libraryDefaults[] = {
#define PROFILE_APPLICATION_SETTING LibraryDefault()
#define PROFILE_VERBATIM(text) verbatim(text)
#define PROFILE_TRANSLATED(text) translated(text)
#define PROFILE_COLOUR(red, green, blue) colour(red, green, blue)
#define PROFILE_LIBRARY_DEFAULT(Type, name, libraryDefault) {#name, libraryDefault},
    PROFILE_SETTINGS(PROFILE_LIBRARY_DEFAULT)
#undef PROFILE_LIBRARY_DEFAULT
#undef PROFILE_COLOUR
#undef PROFILE_TRANSLATED
#undef PROFILE_VERBATIM
#undef PROFILE_APPLICATION_SETTING
};

} // namespace

QVariant Profile::libraryDefault(const QString &key)
{
    for (const auto &entry : libraryDefaults) {
        if (key != QLatin1String(entry.key))
            continue;
        switch (entry.value.kind) {
        case LibraryDefault::None:
            break;
        case LibraryDefault::Verbatim:
            return QString::fromUtf8(entry.value.text);
        case LibraryDefault::Translated:
            return tr(entry.value.text);
        case LibraryDefault::Colour:
            return QColor(entry.value.colour);
        }
        break;
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
