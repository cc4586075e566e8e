#include "profile.h"
#include "profile_p.h"

#include "corelogging_p.h"
#include "storedvalue_p.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QThread>
#include <QtCore/QThreadPool>
#include <QtCore/QTimer>
#include <QtCore/QVector>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

// Persisted changes on their way into the table `profile`: kept by key until
// written, written in the owning thread only, a batch at a time, and tried
// again while they fail.

namespace {

using ReadLocker = std::shared_lock<std::shared_mutex>;
using WriteLocker = std::unique_lock<std::shared_mutex>;

// The owning thread is the user interface's: a write there waits this long
// for a lock that another connection or program holds (a report reading the
// table, say), and is tried again later rather than freezing the window.
constexpr int ownerBusyTimeout = 100;
// What is left when the store closes waits longer: there is no later.
constexpr int closingBusyTimeout = 5000;
// What one turn of the owning thread's event loop spends writing before it
// commits, so that a flood of changes from other threads leaves the window
// answering; the rest goes in the next turn.
constexpr int longestTurn = 20;
// A failed write is tried again after this, then twice as long each time.
constexpr int firstRetryDelay = 100;
constexpr int longestRetryDelay = 5000;

struct Change
{
    QString key;
    ProfilePrivate::Pending pending;
    QVariant stored; // the form bound for the table; invalid for a removal
};

const QString &insertStatement()
{
    static const QString statement =
        QStringLiteral("insert or replace into profile (name, value) values(?,?)");
    return statement;
}

const QString &deleteStatement()
{
    static const QString statement = QStringLiteral("delete from profile where name = ?");
    return statement;
}

// Encodes the values of a batch for the table. A value with no stored form
// can never be written: it is taken out with a warning (and stays in memory).
QVector<Change> storable(QVector<Change> *batch)
{
    QVector<Change> unstorable;
    auto keep = batch->begin();
    for (Change &change : *batch) {
        if (change.pending.value.isValid()) {
            change.stored = StoredValue::encode(change.pending.value);
            if (!change.stored.isValid()) {
                qCWarning(lcCore).noquote()
                    << QStringLiteral("%1(%2):").arg(QLatin1String(__FILE__)).arg(__LINE__)
                    << QStringLiteral("\"%1\" is not stored: a value of type %2 has no stored form")
                           .arg(change.key, QLatin1String(change.pending.value.typeName()));
                unstorable.append(change);
                continue;
            }
        }
        *keep++ = change;
    }
    batch->erase(keep, batch->end());
    return unstorable;
}

// Why a batch was not written. A lock ends when its holder is done, and so
// does a transaction the application has open on the store's connection; the
// others (a full disk, a read-only or damaged file) last.
struct WriteFailure
{
    QSqlError error;
    bool passing = false;
};

// Runs the statements of a batch in one transaction, so that changes made
// together cost one sync to disk: all of them, or the first and as many more
// as the deadline leaves time for. The number written, or -1 when a
// statement failed and the transaction was rolled back whole (*failure tells why).
int writeBatch(const QString &connectionName, const QVector<Change> &batch, int busyTimeout,
               const QDeadlineTimer &deadline, WriteFailure *failure)
{
    QSqlError *const error = &failure->error;
    QSqlDatabase db = QSqlDatabase::database(connectionName);
    if (!db.isOpen()) {
        *error = db.lastError();
        return -1;
    }
    // The connection's own time-out stays as the application set it.
    QSqlQuery pragma(db);
    const int busyTimeoutBefore =
        pragma.exec(QStringLiteral("pragma busy_timeout")) && pragma.next()
        ? pragma.value(0).toInt()
        : 30000;
    pragma.exec(QStringLiteral("pragma busy_timeout = %1").arg(busyTimeout));

    // A transaction the application has open on this connection is its own:
    // the changes wait until it ends rather than join it, and its rollback
    // would take them along.
    const bool began = db.transaction();
    bool ok = began;
    if (!began) {
        *error = db.lastError();
        failure->passing = true;
    }
    QSqlQuery insert(db), remove(db);
    int written = 0;
    for (auto change = batch.cbegin(); ok && change != batch.cend(); ++change, ++written) {
        if (written > 0 && deadline.hasExpired())
            break;
        const bool removal = !change->stored.isValid();
        QSqlQuery &query = removal ? remove : insert;
        // Prepared once per batch: a statement kept longer would not survive
        // the application closing and reopening the connection.
        if (query.lastQuery().isEmpty())
            ok = query.prepare(removal ? deleteStatement() : insertStatement());
        if (ok) {
            query.addBindValue(change->key);
            if (!removal)
                query.addBindValue(change->stored);
            ok = query.exec();
        }
        if (!ok)
            *error = query.lastError();
    }
    insert.finish();
    remove.finish();
    if (ok && !db.commit()) {
        ok = false;
        *error = db.lastError();
    }
    if (!ok && began) {
        db.rollback();
        failure->passing = isLockError(*error);
    }
    pragma.exec(QStringLiteral("pragma busy_timeout = %1").arg(busyTimeoutBefore));
    return ok ? written : -1;
}

const QString &statementOf(const Change &change)
{
    return change.stored.isValid() ? insertStatement() : deleteStatement();
}

// The stores that write a table. Qt unloads the SQL drivers with the
// application object, so each store writes what is pending when that
// destructor starts (a post routine runs first thing there) and stores
// nothing after it.
std::mutex openStoresMutex;
QSet<ProfilePrivate *> openStores;
bool closingRoutineAdded = false;
// Set while the closing routine writes for the jobs still running: nothing
// that fails then has a later chance, and the routine answers sync().
std::atomic<bool> closingStores{false};

void closeOpenStores()
{
    {
        const std::lock_guard<std::mutex> locker(openStoresMutex);
        closingRoutineAdded = false;
        if (openStores.isEmpty())
            return;
    }
    // Jobs that the application started on the global thread pool while
    // quitting may still change settings; Qt waits for them only after this
    // routine, when nothing can be stored any more. A job may be waiting in
    // sync() for this very thread: it writes meanwhile.
    closingStores = true;
    while (!QThreadPool::globalInstance()->waitForDone(20)) {
        const std::lock_guard<std::mutex> locker(openStoresMutex);
        for (ProfilePrivate *store : qAsConst(openStores))
            store->storePending(ProfilePrivate::OneTurn);
    }
    const std::lock_guard<std::mutex> locker(openStoresMutex);
    for (ProfilePrivate *store : qAsConst(openStores))
        store->close();
    openStores.clear();
    closingStores = false;
}

} // namespace

bool ProfilePrivate::queueStore(const QString &key, const QVariant &value)
{
    if (!hasTable())
        return !late && !closed; // without a table nothing is stored, nor lost
    pending.insert(key, {value, ++lastSerial});
    return true;
}

void ProfilePrivate::warnUnstored(const char *function, const QString &key) const
{
    qCWarning(lcCore).noquote()
        << QStringLiteral("Profile::%1: \"%2\" is not stored: %3")
               .arg(QLatin1String(function), key,
                    late ? QStringLiteral("the settings store was destroyed at exit")
                         : QStringLiteral("the application object has been destroyed"));
}

void ProfilePrivate::storeSoon(const QString &key)
{
    if (QThread::currentThread() == owner) {
        {
            // Nothing of this key to write: another connection's change,
            // which the table holds already, is being announced.
            const ReadLocker locker(lock);
            if (!key.isEmpty() && !pending.contains(key))
                return;
        }
        storePending(OneTurn, key);
        return;
    }
    {
        // One write queued at a time, for every change made until it runs:
        // a thread changing a setting every millisecond costs the owning
        // thread one transaction per turn of its event loop, not one each.
        const WriteLocker locker(lock);
        if (writeQueued || pending.isEmpty() || !hasTable())
            return;
        writeQueued = true;
    }
    queueWrite();
}

void ProfilePrivate::queueWrite()
{
    // Through the storing slot, which writes whatever is pending when it
    // runs; by name, so that nothing of ours crosses the threads but the
    // pending changes under `lock`.
    QMetaObject::invokeMethod(q, "saveValue", Qt::QueuedConnection, Q_ARG(QString, QString()),
                              Q_ARG(QVariant, QVariant()));
}

bool ProfilePrivate::storePending(Extent extent, const QString &first)
{
    if (QThread::currentThread() != owner)
        return false;
    for (;;) {
        const bool done = writeOnce(extent == All ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                  : QDeadlineTimer(longestTurn),
                                    first);
        const ReadLocker locker(lock);
        if (done || extent == OneTurn || !failing.isEmpty())
            return done && pending.isEmpty();
    }
}

bool ProfilePrivate::writeOnce(const QDeadlineTimer &deadline, const QString &first)
{
    QVector<Change> batch;
    {
        const WriteLocker locker(lock);
        writeQueued = false;
        if (!hasTable())
            return false;
        if (pending.isEmpty())
            return true;
        batch.reserve(pending.size());
        // A change just made in this thread is written before it returns.
        const auto firstChange = pending.constFind(first);
        if (firstChange != pending.cend())
            batch.append({first, *firstChange, QVariant()});
        for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
            if (it != firstChange)
                batch.append({it.key(), it.value(), QVariant()});
        }
    }

    QVector<Change> settled = storable(&batch);
    WriteFailure failure;
    const int count = batch.isEmpty()
        ? 0
        : writeBatch(connectionNames[ProfileDatabase], batch, ownerBusyTimeout, deadline, &failure);
    if (count >= 0) {
        for (int i = 0; i < count; ++i) {
            const Change &change = batch.at(i);
            failing.remove(change.key);
            // So that another connection's later change of the key, even
            // back to what the table held before, shows as a change.
            if (change.stored.isValid())
                columns.insert(change.key, change.stored);
            else
                columns.remove(change.key);
        }
        settled += batch.mid(0, count);
        retryDelay = 0;
        retryTimer->stop();
    } else {
        // Memory and table differ until a later write succeeds: at the next
        // change, the retry, sync() or when the store closes. Each key is
        // reported once, not at every retry.
        for (const Change &change : qAsConst(batch)) {
            if (failing.contains(change.key))
                continue;
            failing.insert(change.key);
            qCWarning(lcCore).noquote()
                << QStringLiteral("%1(%2):").arg(QLatin1String(__FILE__)).arg(__LINE__)
                << statementOf(change) << failure.error
                << QStringLiteral("(\"%1\" is stored once the database allows it)").arg(change.key);
        }
        retryDelay = retryDelay ? std::min(2 * retryDelay, longestRetryDelay) : firstRetryDelay;
        retryTimer->start(retryDelay);
    }

    bool nothingLeft;
    bool queueRest = false;
    {
        const WriteLocker locker(lock);
        // A change made while this batch was written stays pending.
        for (const Change &change : qAsConst(settled)) {
            const auto it = pending.find(change.key);
            if (it != pending.end() && it->serial == change.pending.serial)
                pending.erase(it);
        }
        nothingLeft = pending.isEmpty();
        if (count < 0 && (!failure.passing || closingStores))
            ++lastingFailures;
        // What the turn had no time for goes in the next one.
        queueRest = count >= 0 && count < batch.size() && !writeQueued;
        writeQueued = writeQueued || queueRest;
    }
    if (queueRest)
        queueWrite();
    written.notify_all();
    return count >= 0 && nothingLeft;
}

bool ProfilePrivate::storedUpTo(quint64 serial) const
{
    return std::none_of(pending.cbegin(), pending.cend(),
                        [serial](const Pending &change) { return change.serial <= serial; });
}

bool ProfilePrivate::waitUntilStored(int timeout)
{
    WriteLocker locker(lock);
    const quint64 mark = lastSerial;
    const quint64 failuresBefore = lastingFailures;
    // A write that fails for a lasting cause ends the wait: no retry within
    // the time-out is likely to do better. So does the end of the owning
    // thread's event loop (an instrument thread joined after exec() returns),
    // unless the closing routine writes meanwhile.
    const auto done = [this, mark, failuresBefore] {
        return storedUpTo(mark) || lastingFailures != failuresBefore
            || (loopEnded && !closingStores);
    };
    if (!hasTable())
        return false;
    if (done())
        return storedUpTo(mark) && hasTable();
    if (!writeQueued) {
        writeQueued = true;
        queueWrite();
    }
    written.wait_for(locker, std::chrono::milliseconds(qMax(timeout, 0)), done);
    return storedUpTo(mark) && hasTable();
}

void ProfilePrivate::close()
{
    QVector<Change> batch;
    {
        const WriteLocker locker(lock);
        if (closed)
            return;
        closed = true;
        for (auto it = pending.cbegin(); it != pending.cend(); ++it)
            batch.append({it.key(), it.value(), QVariant()});
        pending.clear();
    }
    const bool owning = QThread::currentThread() == owner;
    if (owning && retryTimer)
        retryTimer->stop();
    if (owning)
        stopWatching();
    if (!batch.isEmpty()) {
        storable(&batch);
        WriteFailure failure;
        if (!batch.isEmpty()
            && (!owning
                || writeBatch(connectionNames[ProfileDatabase], batch, closingBusyTimeout,
                              QDeadlineTimer(QDeadlineTimer::Forever), &failure)
                    < 0)) {
            for (const Change &change : qAsConst(batch))
                qCWarning(lcCore).noquote()
                    << QStringLiteral("Profile: \"%1\" is not stored: the store closed before "
                                      "the table could be written")
                           .arg(change.key)
                    << failure.error;
        }
    }
    written.notify_all();
}

void ProfilePrivate::setOpen(bool open)
{
    const std::lock_guard<std::mutex> locker(openStoresMutex);
    if (!open) {
        openStores.remove(this);
        return;
    }
    // Also for a store made before the application object: it is the
    // application object that takes the SQL drivers with it.
    if (!closingRoutineAdded) {
        qAddPostRoutine(closeOpenStores);
        closingRoutineAdded = true;
    }
    openStores.insert(this);
}

// Both slots write every pending change rather than what their call
// carried: a change superseded meanwhile must not bring back an older value.
void Profile::saveValue(const QString &key, const QVariant &)
{
    d->storeSoon(key);
}

void Profile::removeKey(const QString &key)
{
    d->storeSoon(key);
}

bool Profile::sync(int timeout)
{
    if (QThread::currentThread() == d->owner) {
        // The changes made before this call: others may come meanwhile.
        quint64 mark;
        {
            const std::shared_lock<std::shared_mutex> locker(d->lock);
            mark = d->lastSerial;
        }
        d->storePending(ProfilePrivate::All);
        const std::shared_lock<std::shared_mutex> locker(d->lock);
        return d->hasTable() && d->storedUpTo(mark);
    }
    return d->waitUntilStored(timeout);
}
