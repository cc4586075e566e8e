#include "profile.h"
#include "profile_p.h"

#include "corelogging_p.h"
#include "krglobal.h"
#include "settingsfile_p.h"
#include "storedvalue_p.h"
#include "threadconnections_p.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QEvent>
#include <QtCore/QFileInfo>
#include <QtCore/QPointer>
#include <QtCore/QThread>
#include <QtCore/QTimer>
#include <QtSql/QSqlDriver>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#include <cstdlib>
#include <mutex>
#include <utility>

// The store's start-up and lifetime: the process-wide instance, the four
// connections and what start-up finds wrong with the site.

namespace {

// Registers and opens one connection; it stays registered even when opening
// fails. The file goes by its absolute path: the application may change its
// current directory and reopen the connection (a backup, a file dialog).
QSqlDatabase addConnection(const QString &connectionName, const QString &absolutePath)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(absolutePath);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    db.open();
    return db;
}

enum class FileState { HasTables, NoTables, Locked };

// What QSqlDatabase::tables() tells, except that a file another program holds
// locked past the busy time-out is not taken for one without tables.
FileState inspect(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("select count(*) from sqlite_master where type = 'table'")))
        return query.next() && query.value(0).toInt() > 0 ? FileState::HasTables
                                                          : FileState::NoTables;
    return isLockError(query.lastError()) ? FileState::Locked : FileState::NoTables;
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

std::mutex standardNamesMutex;
const ProfilePrivate *standardNamesHolder = nullptr;

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

void ProfilePrivate::takeConnectionNames()
{
    const std::lock_guard<std::mutex> locker(standardNamesMutex);
    static quint64 stores = 0;
    ++stores;
    const bool standard = !standardNamesHolder;
    if (standard)
        standardNamesHolder = this;
    for (int database = 0; database < DatabaseCount; ++database) {
        const QString name = SettingsFile::defaultDatabaseName(database);
        connectionNames[database] = standard
            ? name
            : QStringLiteral("coagulation.core store %1 (%2)").arg(stores).arg(name);
    }
}

void ProfilePrivate::releaseConnectionNames()
{
    // The checks' connection, when the store closed in another thread.
    if (!watchConnectionName.isEmpty())
        QSqlDatabase::removeDatabase(watchConnectionName);
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
        d->close();
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
            const std::shared_lock<std::shared_mutex> valuesLocker(store->d->lock);
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
        std::unique_ptr<ProfilePrivate> dd(new ProfilePrivate(nullptr));
        dd->values = finalValues;
        dd->late = true;
        lateStore = new Profile(std::move(dd));
        ProfilePrivate::changed();
    }
    return *lateStore;
}

void Profile::init(const QString &defaultProfileFile, QThread *owner)
{
    d.reset(new ProfilePrivate(this));
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
    // The databases it names may be others than the site means.
    if (!settings.problem().isEmpty())
        d->startupProblems << tr("设置文件 settings.ini 有误：%1").arg(settings.problem());
    const QString profileName =
        settings
            .value(QLatin1String(SettingsFile::databaseKeys[ProfilePrivate::ProfileDatabase]),
                   defaultProfileFile)
            .toString();

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

    // The paths as start-up reports them, joined to the profile database's
    // directory; the connections open their absolute form.
    QStringList paths = {home.filePath(profileName)};
    for (int database = ProfilePrivate::DataDatabase; database < ProfilePrivate::DatabaseCount;
         ++database) {
        paths << home.filePath(settings
                                   .value(QLatin1String(SettingsFile::databaseKeys[database]),
                                          SettingsFile::defaultDatabaseName(database))
                                   .toString());
    }
    // Two databases in one file would put the data tables beside the
    // settings, or the log into the patients' file: nothing is opened.
    const QString shared = sharedFile(paths);
    if (!shared.isEmpty()) {
        d->startupProblems << tr("settings.ini 为两个数据库指定了同一个文件 %1").arg(shared);
        return;
    }

    d->takeConnectionNames();
    d->profileFile = paths.first();
    for (int database = 0; database < ProfilePrivate::DatabaseCount; ++database) {
        const QString &path = paths.at(database);
        d->databaseFiles[database] = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
        const QSqlDatabase db =
            addConnection(d->connectionNames[database], d->databaseFiles[database]);
        const bool profile = database == ProfilePrivate::ProfileDatabase;
        if (!db.isOpen())
            d->startupProblems
                << (profile ? tr("无法加载配置文件 %1\n%2").arg(path, db.lastError().text())
                            : tr("无法打开数据库文件 %1").arg(path));
        const FileState state = inspect(db);
        switch (state) {
        case FileState::Locked:
            d->startupProblems << tr("数据库文件 %1 被其他程序锁定").arg(path);
            continue; // nothing can be read from it now
        case FileState::NoTables:
            d->startupProblems << (profile ? tr("错误的配置文件 %1").arg(path)
                                           : tr("错误的数据库文件 %1").arg(path));
            break;
        case FileState::HasTables:
            break;
        }
        if (profile && state == FileState::HasTables) {
            QSqlQuery rows(db);
            rows.setForwardOnly(true);
            if (rows.exec(QStringLiteral("select name, value from profile"))) {
                while (rows.next())
                    d->values.insert(rows.value(0).toString(),
                                     StoredValue::fromColumn(rows.value(1)));
            }
            // Shared until either changes: start-up copies nothing.
            d->columns = d->values;
            // A damaged page ends the reading part way: the settings not read
            // would show their defaults, unannounced.
            if (rows.lastError().isValid())
                d->startupProblems
                    << tr("无法加载配置文件 %1\n%2").arg(path, rows.lastError().text());
        }
    }

    connect(this, &Profile::valueChanged, this, &Profile::saveValue, Qt::DirectConnection);
    connect(this, &Profile::keyRemoved, this, &Profile::removeKey, Qt::DirectConnection);
    d->retryTimer = new QTimer(this);
    d->retryTimer->setSingleShot(true);
    connect(d->retryTimer, &QTimer::timeout, this,
            [this] { d->storePending(ProfilePrivate::OneTurn); });
    d->startWatching();
    // A worker that owns the store and ends before it: its timers and the
    // checks' connection end with it, in it.
    connect(owner, &QThread::finished, this, [this] {
        d->retryTimer->stop();
        d->stopWatching();
    }, Qt::DirectConnection);
    // Stores still queued when the event loop ends would otherwise wait for
    // the application object's destruction.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            d->storePending(ProfilePrivate::All);
            const std::unique_lock<std::shared_mutex> locker(d->lock);
            d->loopEnded = true;
            d->written.notify_all();
        });
    d->setOpen(true);
}

void Profile::showStartupProblems()
{
    const QStringList problems = std::exchange(d->startupProblems, QStringList());
    for (const QString &problem : problems)
        warning(problem, QMessageBox::Ok, QMessageBox::NoButton);
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

QDir Profile::workdir() const
{
    return d->workdir;
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
