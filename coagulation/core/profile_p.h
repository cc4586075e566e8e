#ifndef PROFILE_P_H
#define PROFILE_P_H

//
//  This header is internal to the library and is not installed.
//

#include "profile.h"

#include <QtCore/QHash>
#include <QtCore/QSet>
#include <QtSql/QSqlError>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <shared_mutex>

class QDeadlineTimer;
class QThread;
class QTimer;

// Whether a statement failed because another connection holds the file
// locked: SQLITE_BUSY and SQLITE_LOCKED, with their extended codes.
inline bool isLockError(const QSqlError &error)
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == 5 || code == 6;
}

class ProfilePrivate
{
public:
    enum Database { ProfileDatabase, DataDatabase, QcDatabase, SyslogDatabase, DatabaseCount };

    explicit ProfilePrivate(Profile *q)
        : q(q)
    { }

    // The process-wide store's data database for the library's own queries,
    // or an invalid connection after a warning line naming @p caller. A query
    // handed an invalid connection would use the application's default one,
    // a database of its own.
    static QSqlDatabase dataDatabase(const char *caller);

    // Counts every change of any store's values and every change of the
    // application's translators; callers keep what they derived from the
    // settings for as long as it stays the same. One atomic load.
    static quint64 changeCount() { return changes.load(std::memory_order_acquire); }
    // Called with `lock` held for writing, so that a reader holding it for
    // reading sees a count that matches the values.
    static void changed() { changes.fetch_add(1, std::memory_order_release); }

    // The values this thread looked up, kept until the next change anywhere:
    // a lookup is then a hash lookup of its own, with no lock whose cache line
    // the cores would pass back and forth. A change clears the copies rather
    // than refreshing them, so that frequent writes cost no more than before.
    struct ThreadCache
    {
        const ProfilePrivate *store = nullptr;
        quint64 changes = 0;
        QHash<QString, QVariant> values;
    };
    // This thread's cache, emptied if out of date; null while the thread ends.
    ThreadCache *threadCache() const;
    // The value of @p key as callers see it (a blob start-up kept is decoded
    // now); *found tells whether the key is known.
    QVariant stored(const QString &key, bool *found);

    // --- Start-up and lifetime (profilestartup.cpp)

    // Takes the four connection names callers know ("profile.db" and so on)
    // if no other living store holds them, or names of this store's own, so
    // that a second store cannot take over the connections of the first.
    void takeConnectionNames();
    void releaseConnectionNames();

    // --- Persistence (profilestorage.cpp)

    // Records a persisted change (called with `lock` held for writing).
    // False when it can never be stored: the store was closed at exit.
    bool queueStore(const QString &key, const QVariant &value);
    // The warning line of a persisted change that cannot be stored.
    void warnUnstored(const char *function, const QString &key) const;
    // Writes the pending changes: at once in the owning thread (@p key, a
    // change just made there, first), at the next turn of its event loop
    // from any other.
    void storeSoon(const QString &key = QString());
    // Queues a write of what is pending to the owning thread.
    void queueWrite();
    // Writes pending changes in the owning thread: all of them, or what one
    // turn of its event loop has time for (@p first among them), queueing
    // the rest. True when none is left pending. A change that fails stays
    // pending and is tried again later.
    enum Extent { All, OneTurn };
    bool storePending(Extent extent, const QString &first = QString());
    // One transaction of pending changes, until @p deadline.
    bool writeOnce(const QDeadlineTimer &deadline, const QString &first);
    // Whether no change up to @p serial is pending (`lock` held).
    bool storedUpTo(quint64 serial) const;
    // Waits until the changes pending now are written, or @p timeout ms pass.
    bool waitUntilStored(int timeout);
    // Writes what is pending a last time and stores nothing after it.
    void close();
    // Registers the store to be closed when the application object goes.
    void setOpen(bool open);

    // --- Other connections' changes (profilewatch.cpp)

    // Has the owning thread check the table every second once its event
    // loop runs.
    void startWatching();
    // Takes what another connection committed to the table since the last
    // check into memory and announces it, unless a change of the key is
    // pending here; writes nothing.
    void followOtherConnections();
    // The owning thread's connection for the checks, opened at the first: one
    // of the store's own, which waits for no lock and on which the
    // application holds no transaction. It sees this store's writes too, as
    // another connection's. Invalid while the store's own connection is
    // closed.
    QSqlDatabase watchConnection(const QString &file);
    void dropWatchConnection();
    // No more checks, and the connection for them gone (owning thread).
    void stopWatching();

    Profile *const q;
    QDir workdir;
    QString profileFile;
    QHash<QString, QVariant> values;

    // A persisted change not written yet: the latest value of its key, or an
    // invalid variant for a removal. The writer stores what is here when it
    // runs, not what a change's signal carried, so a store that a later
    // change superseded cannot overwrite it.
    struct Pending
    {
        QVariant value;
        quint64 serial; // orders the changes; a write keeps a newer one pending
    };
    QHash<QString, Pending> pending;
    quint64 lastSerial = 0;
    bool writeQueued = false; // a write is queued to the owning thread
    // Counts the writes that failed for a cause waiting will not end (a full
    // disk, a read-only file): sync() elsewhere gives up at the next one.
    quint64 lastingFailures = 0;
    // The owning thread's event loop has ended: a write queued to it runs
    // only when the store closes, so sync() elsewhere does not wait for one.
    bool loopEnded = false;
    // Guards values and the pending changes. A standard lock, which
    // ThreadSanitizer understands without annotations.
    mutable std::shared_mutex lock;
    // Woken after each write, for callers waiting in sync().
    std::condition_variable_any written;

    QThread *owner = nullptr; // the thread that registered the connections
    QString connectionNames[DatabaseCount];
    QString databaseFiles[DatabaseCount]; // absolute; empty for a connection not registered
    QStringList startupProblems; // shown once the store is in place
    bool late = false; // serves calls made after the store was destroyed at exit
    // The application object is gone, and Qt's SQL drivers with it: what was
    // pending was written then, and nothing more can be.
    bool closed = false;
    std::unique_ptr<QObject> languageWatcher;

    // Owning thread only.
    QTimer *retryTimer = nullptr; // writes again what failed
    int retryDelay = 0; // ms; grows while writes keep failing
    QSet<QString> failing; // keys whose failure has been reported
    QTimer *watchTimer = nullptr; // checks for other connections' changes
    QString watchConnectionName; // empty until the first check
    QByteArray watchedFile; // the file it was opened on
    // The table as last read (each column as StoredValue::fromColumn() keeps
    // it) or written, and the connection's data version at that reading;
    // -1 until the first check, which compares the table with what start-up
    // read.
    QHash<QString, QVariant> columns;
    qint64 dataVersion = -1;

    // Whether persisted changes have a table to go to (`lock` held).
    bool hasTable() const { return !profileFile.isEmpty() && !closed; }

private:
    static std::atomic<quint64> changes;
};

#endif // PROFILE_P_H
