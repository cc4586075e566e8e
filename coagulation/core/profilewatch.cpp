#include "profile.h"
#include "profile_p.h"

#include "storedvalue_p.h"

#include <QtCore/QFile>
#include <QtCore/QThread>
#include <QtCore/QTimer>
#include <QtCore/QVector>
#include <QtSql/QSqlQuery>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

// Changes that other connections commit to the table `profile` (the report
// designer's store over the same file, say): the owning thread asks SQLite
// every second whether there are any, and takes them into memory as its own
// changes are announced, without writing them back.

namespace {

using ReadLocker = std::shared_lock<std::shared_mutex>;
using WriteLocker = std::unique_lock<std::shared_mutex>;

// An idle application pays one look at the file's version this often.
constexpr int checkInterval = 1000;

// A blob kept undecoded as the bytes it came as.
QVariant column(const QVariant &kept)
{
    return StoredValue::isUndecoded(kept) ? QVariant(kept.value<StoredValue::Undecoded>().bytes)
                                          : kept;
}

QVariant convertedLike(QVariant value, const QVariant &model)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const bool converted = value.convert(model.metaType());
#else
    const bool converted = value.convert(model.userType());
#endif
    return converted ? value : QVariant();
}

// Whether two forms of a column hold one value: the driver reads back what
// this store bound with a type of its own (an integer for a bool, text for a
// date). Converted both ways where the types convert, so that a real that an
// integer would round differs from it; a way that does not convert (text to
// a character) does not count.
bool sameValue(const QVariant &a, const QVariant &b)
{
    if (!a.isValid() || !b.isValid())
        return false;
    if (a.userType() == b.userType())
        return a == b;
    const QVariant aLikeB = convertedLike(a, b);
    const QVariant bLikeA = convertedLike(b, a);
    return (aLikeB.isValid() || bLikeA.isValid()) && (!aLikeB.isValid() || aLikeB == b)
        && (!bLikeA.isValid() || bLikeA == a);
}

bool sameColumn(const QVariant &a, const QVariant &b)
{
    return sameValue(column(a), column(b));
}

// Whether the column holds what memory holds (a write of this store), so
// that nothing is announced.
bool holds(const QVariant &kept, const QVariant &memory)
{
    return sameValue(column(kept),
                     StoredValue::isUndecoded(memory) ? column(memory)
                                                      : StoredValue::encode(memory));
}

// The file that a path names, as the system tells files apart: another file
// put in its place (a backup restored) is another.
QByteArray fileIdentity(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return QByteArray();
    return QByteArray::number(quint64(info.st_dev)) + ':' + QByteArray::number(quint64(info.st_ino));
#else
    // Windows replaces no file that a connection holds open.
    return QFile::encodeName(path);
#endif
}

struct Announcement
{
    QString key;
    QVariant value;
    bool removed;
};

} // namespace

void ProfilePrivate::startWatching()
{
    watchTimer = new QTimer(q);
    watchTimer->setInterval(checkInterval);
    QObject::connect(watchTimer, &QTimer::timeout, q, [this] { followOtherConnections(); });
    // Started by the owning thread, which start-up may not run in; not once
    // the store has closed (an application object that never ran its loop).
    QMetaObject::invokeMethod(
        watchTimer,
        [this] {
            const ReadLocker locker(lock);
            if (hasTable())
                watchTimer->start();
        },
        Qt::QueuedConnection);
}

QSqlDatabase ProfilePrivate::watchConnection(const QString &file)
{
    // The application closed the store's connection (a backup, a restore):
    // the check's goes too, so that the file is free, and the table is read
    // afresh once the store's is open again.
    if (!QSqlDatabase::database(connectionNames[ProfileDatabase], false).isOpen()) {
        dropWatchConnection();
        return QSqlDatabase();
    }
    const QByteArray identity = fileIdentity(file);
    if (identity != watchedFile)
        dropWatchConnection();
    if (watchConnectionName.isEmpty()) {
        static std::atomic<quint64> watchers{0};
        watchConnectionName = QStringLiteral("coagulation.core store watch %1 (profile.db)")
                                  .arg(watchers.fetch_add(1, std::memory_order_relaxed));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), watchConnectionName);
        db.setDatabaseName(file);
        // A look that finds the file locked waits for nothing: it is made
        // again a second later, and the window never waits for it. Read-only,
        // so that a file deleted meanwhile is not made again, empty.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0;QSQLITE_OPEN_READONLY"));
        watchedFile = identity;
    }
    QSqlDatabase db = QSqlDatabase::database(watchConnectionName, false);
    if (!db.isOpen())
        db.open();
    return db;
}

void ProfilePrivate::dropWatchConnection()
{
    if (watchConnectionName.isEmpty())
        return;
    QSqlDatabase::removeDatabase(watchConnectionName);
    watchConnectionName.clear();
    // Another connection counts changes afresh.
    dataVersion = -1;
}

void ProfilePrivate::stopWatching()
{
    if (watchTimer)
        watchTimer->stop();
    dropWatchConnection();
}

void ProfilePrivate::followOtherConnections()
{
    QString file;
    {
        const ReadLocker locker(lock);
        if (!hasTable())
            return;
        file = databaseFiles[ProfileDatabase];
    }
    const QSqlDatabase db = watchConnection(file);
    if (!db.isOpen())
        return;

    QHash<QString, QVariant> table;
    {
        // A file another program holds locked is looked at again next time.
        QSqlQuery version(db);
        if (!version.exec(QStringLiteral("pragma data_version")) || !version.next())
            return;
        const qint64 now = version.value(0).toLongLong();
        if (now == dataVersion)
            return;
        // One statement, which reads the table as one commit left it.
        QSqlQuery rows(db);
        rows.setForwardOnly(true);
        if (rows.exec(QStringLiteral("select name, value from profile"))) {
            while (rows.next())
                table.insert(rows.value(0).toString(), StoredValue::fromColumn(rows.value(1)));
        }
        if (rows.lastError().isValid()) {
            // Part of the table would look as if the rest had gone.
            if (!isLockError(rows.lastError()))
                dataVersion = now;
            return;
        }
        dataVersion = now;
    }

    QStringList candidates;
    for (auto row = table.cbegin(); row != table.cend(); ++row) {
        const auto before = columns.constFind(row.key());
        if (before == columns.cend() || !sameColumn(*before, *row))
            candidates.append(row.key());
    }
    for (auto before = columns.cbegin(); before != columns.cend(); ++before) {
        if (!table.contains(before.key()))
            candidates.append(before.key());
    }
    columns = table;
    if (candidates.isEmpty())
        return;

    QVector<Announcement> announcements;
    {
        const WriteLocker locker(lock);
        if (!hasTable())
            return;
        for (const QString &key : qAsConst(candidates)) {
            // A change made here and not written yet is the newer one.
            if (pending.contains(key))
                continue;
            const auto row = table.constFind(key);
            const auto memory = values.find(key);
            if (row == table.cend()) {
                if (memory == values.end() || !memory->isValid())
                    continue;
                values.erase(memory);
                announcements.append({key, QVariant(), true});
            } else if (memory == values.end() || !holds(*row, *memory)) {
                values.insert(key, *row);
                announcements.append({key, *row, false});
            }
        }
        if (!announcements.isEmpty())
            changed();
    }
    // Unlocked, as a change made here is announced: slots may call back.
    for (const Announcement &announcement : qAsConst(announcements)) {
        if (announcement.removed) {
            Q_EMIT q->keyRemoved(announcement.key);
            continue;
        }
        QVariant value = announcement.value;
        if (StoredValue::isUndecoded(value)) {
            // Decoded as a read decodes it, once.
            bool found = false;
            value = stored(announcement.key, &found);
        }
        Q_EMIT q->valueChanged(announcement.key, value);
    }
}
