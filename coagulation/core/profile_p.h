#ifndef PROFILE_P_H
#define PROFILE_P_H

//
//  This header is internal to the library and is not installed.
//

#include "profile.h"

#include <QtCore/QHash>

#include <atomic>
#include <memory>
#include <shared_mutex>

class QThread;

class ProfilePrivate
{
public:
    enum Database { ProfileDatabase, DataDatabase, QcDatabase, SyslogDatabase, DatabaseCount };

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

    // Whether persisted changes have a table to go to.
    bool hasTable() const { return !profileFile.isEmpty() && !closed; }
    // The warning line of a persisted change that cannot be stored any more.
    void warnIfUnstored(const char *function, const QString &key) const;

    // Takes the four connection names callers know ("profile.db" and so on)
    // if no other living store holds them, or names of this store's own, so
    // that a second store cannot take over the connections of the first.
    void takeConnectionNames();
    void releaseConnectionNames();

    // Writes the key's latest persisted change, if one is still pending.
    void store(const QString &key);
    // Writes every change still pending (only in the owning thread).
    void storePending();
    // Registers the store to be closed when the application object goes.
    void setOpen(bool open);

    QDir workdir;
    QString profileFile;
    QHash<QString, QVariant> values;
    // Persisted changes not written yet, by key: the latest value, or an
    // invalid variant for a removal. The storing slot writes what is here
    // when it runs, not what its queued call carried, so a store that a later
    // change superseded cannot overwrite it.
    QHash<QString, QVariant> pending;
    // Guards values and pending. A standard lock, which ThreadSanitizer
    // understands without annotations.
    mutable std::shared_mutex lock;

    QThread *owner = nullptr; // the thread that registered the connections
    QString connectionNames[DatabaseCount];
    QString databaseFiles[DatabaseCount]; // empty for a connection not registered
    QStringList startupProblems; // shown once the store is in place
    bool late = false; // serves calls made after the store was destroyed at exit
    // The application object is gone, and Qt's SQL drivers with it: what is
    // still pending was written then, and nothing more can be.
    bool closed = false;
    std::unique_ptr<QObject> languageWatcher;

private:
    static std::atomic<quint64> changes;
};

#endif // PROFILE_P_H
