#include "profile.h"
#include "profile_p.h"

#include "corelogging_p.h"
#include "krglobal.h"
#include "perthread_p.h"
#include "settingsfile_p.h"
#include "storedvalue_p.h"
#include "threadconnections_p.h"
#include "variantconversion_p.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDebug>
#include <QtCore/QEvent>
#include <QtCore/QFileInfo>
#include <QtCore/QPointer>
#include <QtCore/QSet>
#include <QtCore/QThread>
#include <QtSql/QSqlDriver>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#include <cstdlib>
#include <mutex>
#include <utility>

using ReadLocker = std::shared_lock<std::shared_mutex>;
using WriteLocker = std::unique_lock<std::shared_mutex>;

namespace {

const QString standardConnectionNames[ProfilePrivate::DatabaseCount] = {
    QStringLiteral("profile.db"), QStringLiteral("data.db"), QStringLiteral("qc.db"),
    QStringLiteral("syslog.db")};

// Registers and opens one connection; it stays registered even when opening fails.
QSqlDatabase addConnection(const QString &connectionName, const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    db.open();
    return db;
}

// Other threads open the files later, perhaps after the application changed
// its current directory.
QString absolutePath(const QString &path)
{
    return QFileInfo(path).absoluteFilePath();
}

// A failed store or delete leaves memory and table apart until the key is
// stored again; the warning line is the only trace of it.
void execute(const QString &connectionName, const QString &statement,
             const QVariantList &bindValues)
{
    QSqlQuery query(QSqlDatabase::database(connectionName));
    if (query.prepare(statement)) {
        for (const QVariant &value : bindValues)
            query.addBindValue(value);
        if (query.exec())
            return;
    }
    qCWarning(lcCore).noquote()
        << QStringLiteral("%1(%2):").arg(QLatin1String(__FILE__)).arg(__LINE__) << statement
        << query.lastError();
}

// The process-wide store. Its exit handler is registered once start-up has
// run, that is after Qt's SQL registry came into being, so it runs before
// that registry goes away and can still write what is queued.
std::atomic<Profile *> singleton{nullptr};
std::atomic<bool> tornDown{false};
// Held while the store is made, so that first calls from two threads at once
// make one store; not while its start-up problems are shown.
std::mutex startMutex;
Profile *lateStore = nullptr; // never destroyed: it must outlive every exit handler
QHash<QString, QVariant> finalValues;

} // namespace

std::atomic<quint64> ProfilePrivate::changes{0};

QSqlDatabase ProfilePrivate::dataDatabase(const char *caller)
{
    if (tornDown) {
        qCWarning(lcCore, "%s: no data database after the settings store was destroyed at exit",
                  caller);
        return QSqlDatabase();
    }
    const QSqlDatabase db = Profile::instance().dataDatabase();
    if (!db.isValid())
        qCWarning(lcCore, "%s: the settings store has no data database", caller);
    return db;
}

namespace {

std::mutex standardNamesMutex;
const ProfilePrivate *standardNamesHolder = nullptr;

} // namespace

void ProfilePrivate::takeConnectionNames()
{
    const std::lock_guard<std::mutex> locker(standardNamesMutex);
    static quint64 stores = 0;
    ++stores;
    const bool standard = !standardNamesHolder;
    if (standard)
        standardNamesHolder = this;
    for (int database = 0; database < DatabaseCount; ++database)
        connectionNames[database] = standard ? standardConnectionNames[database]
                                             : QStringLiteral("coagulation.core store %1 (%2)")
                                                   .arg(stores)
                                                   .arg(standardConnectionNames[database]);
}

void ProfilePrivate::releaseConnectionNames()
{
    const std::lock_guard<std::mutex> locker(standardNamesMutex);
    if (standardNamesHolder == this) {
        // Callers may still reach these by name, as they always could.
        standardNamesHolder = nullptr;
        return;
    }
    // Names nobody else knows: a store made and destroyed again and again
    // must not keep a file open for each.
    for (const QString &name : connectionNames) {
        if (!name.isEmpty())
            QSqlDatabase::removeDatabase(name);
    }
}

namespace {

// A new translator changes every default text the library translates. Qt
// announces it only to the application object, so the store watches there.
class LanguageWatcher : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::LanguageChange)
            ProfilePrivate::changed();
        return false;
    }
};

} // namespace

void ProfilePrivate::warnIfUnstored(const char *function, const QString &key) const
{
    if (late || closed)
        qCWarning(lcCore).noquote()
            << QStringLiteral("Profile::%1: \"%2\" is not stored: %3")
                   .arg(QLatin1String(function), key,
                        late ? QStringLiteral("the settings store was destroyed at exit")
                             : QStringLiteral("the application object has been destroyed"));
}

Profile::Profile(QObject *parent)
    : QObject(parent)
{
    init(QStringLiteral("profile.db"), thread());
    showStartupProblems();
}

Profile::Profile(const QString &defaultProfileFile, QObject *parent)
    : QObject(parent)
{
    init(defaultProfileFile, thread());
    showStartupProblems();
}

// The process-wide store belongs to the application's thread even when a
// worker thread asks for it first: that thread may end, and queued stores
// need an event loop that runs until the application quits.
Profile::Profile(ProcessWide)
{
    const QCoreApplication *app = QCoreApplication::instance();
    QThread *owner = app ? app->thread() : thread();
    init(QStringLiteral("profile.db"), owner);
    if (owner != thread()) {
        for (const QString &name : d->connectionNames) {
            if (name.isEmpty())
                continue; // start-up registered nothing
            if (QSqlDriver *driver = QSqlDatabase::database(name, false).driver())
                driver->moveToThread(owner);
        }
        moveToThread(owner);
    }
}

Profile::Profile(std::unique_ptr<ProfilePrivate> &&dd)
    : d(std::move(dd))
{ }

Profile::~Profile()
{
    if (d) {
        d->setOpen(false);
        d->storePending();
        d->releaseConnectionNames();
    }
    ProfilePrivate::changed();
}

Profile &Profile::instance()
{
    if (Profile *store = singleton.load(std::memory_order_acquire))
        return *store;
    Profile *made = nullptr;
    {
        const std::lock_guard<std::mutex> locker(startMutex);
        if (Profile *store = singleton.load(std::memory_order_acquire))
            return *store;
        if (Q_UNLIKELY(tornDown))
            return lateInstance();
        made = new Profile(ProcessWide());
        // Published before any start-up problem is shown: the event loop of
        // that box may run code that asks for the store again.
        singleton.store(made, std::memory_order_release);
        std::atexit(&Profile::tearDownInstance);
    }
    made->showStartupProblems();
    return *made;
}

void Profile::tearDownInstance()
{
    Profile *store = nullptr;
    {
        const std::lock_guard<std::mutex> locker(startMutex);
        store = singleton.load();
        {
            const ReadLocker valuesLocker(store->d->lock);
            finalValues = store->d->values;
        }
        tornDown = true;
        singleton.store(nullptr);
    }
    delete store;
}

Profile &Profile::lateInstance()
{
    qCWarning(lcCore,
              "Profile::instance: the settings store was destroyed at exit; this call "
              "is answered from memory and nothing it changes is stored");
    if (!lateStore) {
        std::unique_ptr<ProfilePrivate> dd(new ProfilePrivate);
        dd->values = finalValues;
        dd->late = true;
        lateStore = new Profile(std::move(dd));
        ProfilePrivate::changed();
    }
    return *lateStore;
}

void Profile::init(const QString &defaultProfileFile, QThread *owner)
{
    d.reset(new ProfilePrivate);
    d->workdir = QDir(QDir::currentPath());
    d->owner = owner;
    ProfilePrivate::changed(); // a new store at an address another may have had
    if (QCoreApplication *app = QCoreApplication::instance()) {
        d->languageWatcher.reset(new LanguageWatcher);
        if (QThread::currentThread() == app->thread()) {
            app->installEventFilter(d->languageWatcher.get());
        } else {
            // An event filter must live in the thread of the object it
            // watches, and is installed there.
            d->languageWatcher->moveToThread(app->thread());
            QMetaObject::invokeMethod(
                app,
                [app, watcher = QPointer<QObject>(d->languageWatcher.get())] {
                    if (watcher)
                        app->installEventFilter(watcher);
                },
                Qt::QueuedConnection);
        }
    }

    const SettingsFile settings;
    const QString profileName =
        settings.value(QStringLiteral("db/profile"), defaultProfileFile).toString();

    const QStringList candidates = {QStringLiteral("."), QCoreApplication::applicationDirPath(),
                                    QStringLiteral("release")};
    QDir home;
    bool found = false;
    for (const QString &candidate : candidates) {
        home = QDir(candidate);
        found = home.exists(profileName);
        if (found)
            break;
    }
    if (!found) {
        d->startupProblems << tr("找不到配置文件 %1").arg(profileName);
        return;
    }

    d->takeConnectionNames();
    d->profileFile = home.filePath(profileName);
    d->databaseFiles[ProfilePrivate::ProfileDatabase] = absolutePath(d->profileFile);
    const QSqlDatabase profileDb =
        addConnection(d->connectionNames[ProfilePrivate::ProfileDatabase], d->profileFile);
    if (!profileDb.isOpen())
        d->startupProblems
            << tr("无法加载配置文件 %1\n%2").arg(d->profileFile, profileDb.lastError().text());
    if (profileDb.tables().isEmpty())
        d->startupProblems << tr("错误的配置文件 %1").arg(d->profileFile);
    QSqlQuery rows(profileDb);
    if (rows.exec(QStringLiteral("select name, value from profile"))) {
        while (rows.next())
            d->values.insert(rows.value(0).toString(), StoredValue::decode(rows.value(1)));
    }

    static const struct
    {
        const char *settingsKey;
        ProfilePrivate::Database database;
    } databases[] = {
        {"db/data", ProfilePrivate::DataDatabase},
        {"db/qc", ProfilePrivate::QcDatabase},
        {"db/syslog", ProfilePrivate::SyslogDatabase},
    };
    for (const auto &database : databases) {
        const QString path = home.filePath(settings
                                               .value(QLatin1String(database.settingsKey),
                                                      standardConnectionNames[database.database])
                                               .toString());
        d->databaseFiles[database.database] = absolutePath(path);
        const QSqlDatabase db = addConnection(d->connectionNames[database.database], path);
        if (!db.isOpen())
            d->startupProblems << tr("无法打开数据库文件 %1").arg(path);
        if (db.tables().isEmpty())
            d->startupProblems << tr("错误的数据库文件 %1").arg(path);
    }

    connect(this, &Profile::valueChanged, this, &Profile::saveValue);
    connect(this, &Profile::keyRemoved, this, &Profile::removeKey);
    // Stores still queued when the event loop ends would otherwise be lost.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { d->storePending(); });
    d->setOpen(true);
}

void Profile::showStartupProblems()
{
    const QStringList problems = std::exchange(d->startupProblems, QStringList());
    for (const QString &problem : problems)
        warning(problem, QMessageBox::Ok, QMessageBox::NoButton);
}

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
    {
        const WriteLocker locker(d->lock);
        d->values.insert(key, value);
        ProfilePrivate::changed();
        if (persist && d->hasTable())
            d->pending.insert(key, value);
    }
    if (persist) {
        d->warnIfUnstored("setValue", key);
        // Emitted unlocked: slots may call back into the store.
        Q_EMIT valueChanged(key, value);
    }
}

void Profile::remove(const QString &key)
{
    {
        const WriteLocker locker(d->lock);
        d->values.remove(key);
        ProfilePrivate::changed();
        if (d->hasTable())
            d->pending.insert(key, QVariant());
    }
    d->warnIfUnstored("remove", key);
    Q_EMIT keyRemoved(key);
}

QStringList Profile::keys() const
{
    const ReadLocker locker(d->lock);
    return d->values.keys();
}

QDir Profile::workdir() const
{
    return d->workdir;
}

QSqlDatabase Profile::connection(int database) const
{
    if (d->late) {
        qCWarning(lcCore, "Profile: no database after the settings store was destroyed at exit");
        return QSqlDatabase();
    }
    if (QThread::currentThread() == d->owner || d->databaseFiles[database].isEmpty())
        return QSqlDatabase::database(d->connectionNames[database]);
    return ThreadConnections::connection(d->databaseFiles[database]);
}

QSqlDatabase Profile::database() const
{
    return connection(ProfilePrivate::ProfileDatabase);
}

QSqlDatabase Profile::dataDatabase() const
{
    return connection(ProfilePrivate::DataDatabase);
}

QSqlDatabase Profile::qcDatabase() const
{
    return connection(ProfilePrivate::QcDatabase);
}

QSqlDatabase Profile::syslogDatabase() const
{
    return connection(ProfilePrivate::SyslogDatabase);
}

// Both slots write the key's latest persisted change rather than what their
// call carried: a store queued from another thread may run after a later one
// made here, and must not bring back the older value.
void Profile::saveValue(const QString &key, const QVariant &)
{
    d->store(key);
}

void Profile::removeKey(const QString &key)
{
    d->store(key);
}

void ProfilePrivate::store(const QString &key)
{
    QVariant latest;
    {
        const WriteLocker locker(lock);
        if (!hasTable())
            return;
        const auto it = pending.find(key);
        if (it == pending.end())
            return; // already written by an earlier call
        latest = *it;
        pending.erase(it);
    }
    if (!latest.isValid()) {
        execute(connectionNames[ProfileDatabase],
                QStringLiteral("delete from profile where name = ?"), {key});
        return;
    }
    const QVariant stored = StoredValue::encode(latest);
    if (!stored.isValid()) {
        qCWarning(lcCore).noquote()
            << QStringLiteral("%1(%2):").arg(QLatin1String(__FILE__)).arg(__LINE__)
            << QStringLiteral("\"%1\" is not stored: a value of type %2 has no stored form")
                   .arg(key, QLatin1String(latest.typeName()));
        return;
    }
    execute(connectionNames[ProfileDatabase],
            QStringLiteral("insert or replace into profile (name, value) values(?,?)"),
            {key, stored});
}

void ProfilePrivate::storePending()
{
    if (!hasTable() || QThread::currentThread() != owner)
        return;
    QStringList keys;
    {
        const ReadLocker locker(lock);
        keys = pending.keys();
    }
    for (const QString &key : qAsConst(keys))
        store(key);
}

namespace {

// The stores that write a table. Qt 5 unloads the SQL driver with the
// application object, which is destroyed before the process's exit handlers
// run; so each store writes what is pending when that destructor starts (a
// post routine runs first thing there) and stores nothing after it.
std::mutex openStoresMutex;
QSet<ProfilePrivate *> openStores;

void closeOpenStores()
{
    const std::lock_guard<std::mutex> locker(openStoresMutex);
    for (ProfilePrivate *store : qAsConst(openStores)) {
        store->storePending();
        const WriteLocker storeLocker(store->lock);
        store->closed = true;
    }
    openStores.clear();
}

} // namespace

void ProfilePrivate::setOpen(bool open)
{
    const std::lock_guard<std::mutex> locker(openStoresMutex);
    static bool routineAdded = false;
    if (open && !routineAdded && QCoreApplication::instance()) {
        qAddPostRoutine(closeOpenStores);
        routineAdded = true;
    }
    if (open && routineAdded)
        openStores.insert(this);
    else
        openStores.remove(this);
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
