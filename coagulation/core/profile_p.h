#ifndef PROFILE_P_H
#define PROFILE_P_H

//
//  This header is internal to the library and is not installed.
//

#include "profile.h"

#include <QtCore/QHash>

#include <shared_mutex>

class QThread;

class ProfilePrivate
{
public:
    enum Database { ProfileDatabase, DataDatabase, QcDatabase, SyslogDatabase, DatabaseCount };

    // True once the process-wide store has been destroyed at exit: library
    // code that would reach a database refuses to from then on.
    static bool instanceTornDown();

    // Whether persisted changes have a table to go to.
    bool hasTable() const { return !profileFile.isEmpty(); }
    void warnIfLate(const char *function, const QString &key) const;

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
    QString databaseFiles[DatabaseCount]; // empty for a connection not registered
    QStringList startupProblems; // shown once the store is in place
    bool late = false; // serves calls made after the store was destroyed at exit
};

#endif // PROFILE_P_H
