#include "profile.h"

#include "krglobal.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDebug>
#include <QtCore/QHash>
#include <QtCore/QReadWriteLock>
#include <QtCore/QSettings>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PROFILE_ANNOTATE_LOCK
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define PROFILE_ANNOTATE_LOCK
#endif

#ifdef PROFILE_ANNOTATE_LOCK
// The distribution's Qt is not built with ThreadSanitizer, which therefore
// cannot see what QReadWriteLock orders and would report every access to the
// map as a race. These lockers tell it; the locking itself is Qt's.
extern "C" {
void AnnotateRWLockCreate(const char *file, int line, const volatile void *lock);
void AnnotateRWLockDestroy(const char *file, int line, const volatile void *lock);
void AnnotateRWLockAcquired(const char *file, int line, const volatile void *lock, long is_w);
void AnnotateRWLockReleased(const char *file, int line, const volatile void *lock, long is_w);
}

namespace {
template<bool Write>
class AnnotatedLocker
{
public:
    explicit AnnotatedLocker(QReadWriteLock *lock)
        : m_lock(lock)
    {
        if constexpr (Write)
            m_lock->lockForWrite();
        else
            m_lock->lockForRead();
        AnnotateRWLockAcquired(__FILE__, __LINE__, m_lock, Write);
    }
    ~AnnotatedLocker()
    {
        AnnotateRWLockReleased(__FILE__, __LINE__, m_lock, Write);
        m_lock->unlock();
    }

private:
    Q_DISABLE_COPY(AnnotatedLocker)
    QReadWriteLock *m_lock;
};
} // namespace
using ReadLocker = AnnotatedLocker<false>;
using WriteLocker = AnnotatedLocker<true>;
static void lockCreated(QReadWriteLock *lock)
{
    AnnotateRWLockCreate(__FILE__, __LINE__, lock);
}
static void lockDestroyed(QReadWriteLock *lock)
{
    AnnotateRWLockDestroy(__FILE__, __LINE__, lock);
}
#else
using ReadLocker = QReadLocker;
using WriteLocker = QWriteLocker;
static void lockCreated(QReadWriteLock *) { }
static void lockDestroyed(QReadWriteLock *) { }
#endif

class ProfilePrivate
{
public:
    ProfilePrivate() { lockCreated(&lock); }
    ~ProfilePrivate() { lockDestroyed(&lock); }

    QDir workdir;
    QString profileFile;
    QHash<QString, QVariant> values;
    QReadWriteLock lock;
};

static const QString profileConnection = QStringLiteral("profile.db");
static const QString dataConnection = QStringLiteral("data.db");
static const QString qcConnection = QStringLiteral("qc.db");
static const QString syslogConnection = QStringLiteral("syslog.db");

// Registers and opens one connection; it stays registered even when opening fails.
static QSqlDatabase addConnection(const QString &connectionName, const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    db.open();
    return db;
}

static void showWarning(const QString &text)
{
    warning(text, QMessageBox::Ok, QMessageBox::NoButton);
}

// A failed store or delete leaves memory and table apart until the key is
// stored again; the warning line is the only trace of it.
static void execute(const QString &statement, const QVariantList &bindValues)
{
    QSqlQuery query(QSqlDatabase::database(profileConnection));
    if (query.prepare(statement)) {
        for (const QVariant &value : bindValues)
            query.addBindValue(value);
        if (query.exec())
            return;
    }
    qWarning().noquote() << QStringLiteral("%1(%2):").arg(QLatin1String(__FILE__)).arg(__LINE__)
                         << statement << query.lastError();
}

Profile::Profile(QObject *parent)
    : QObject(parent)
{
    init(QStringLiteral("profile.db"));
}

Profile::Profile(const QString &defaultProfileFile, QObject *parent)
    : QObject(parent)
{
    init(defaultProfileFile);
}

Profile::~Profile() = default;

Profile &Profile::instance()
{
    // Not guarded against two first calls at once: the user-interface thread
    // makes the first call before anyone else uses the store.
    static std::unique_ptr<Profile> self;
    if (!self)
        self.reset(new Profile);
    return *self;
}

void Profile::init(const QString &defaultProfileFile)
{
    d.reset(new ProfilePrivate);
    d->workdir = QDir(QDir::currentPath());

    const QSettings settings(QStringLiteral("settings.ini"), QSettings::IniFormat);
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
        showWarning(tr("找不到配置文件 %1").arg(profileName));
        return;
    }

    d->profileFile = home.filePath(profileName);
    const QSqlDatabase profileDb = addConnection(profileConnection, d->profileFile);
    if (!profileDb.isOpen())
        showWarning(
            tr("无法加载配置文件 %1\n%2").arg(d->profileFile, profileDb.lastError().text()));
    if (profileDb.tables().isEmpty())
        showWarning(tr("错误的配置文件 %1").arg(d->profileFile));
    QSqlQuery rows(profileDb);
    if (rows.exec(QStringLiteral("select name, value from profile"))) {
        while (rows.next())
            d->values.insert(rows.value(0).toString(), rows.value(1));
    }

    static const struct
    {
        const char *settingsKey;
        const QString &connectionName;
    } databases[] = {
        {"db/data", dataConnection},
        {"db/qc", qcConnection},
        {"db/syslog", syslogConnection},
    };
    for (const auto &database : databases) {
        const QString path = home.filePath(
            settings.value(QLatin1String(database.settingsKey), database.connectionName)
                .toString());
        const QSqlDatabase db = addConnection(database.connectionName, path);
        if (!db.isOpen())
            showWarning(tr("无法打开数据库文件 %1").arg(path));
        if (db.tables().isEmpty())
            showWarning(tr("错误的数据库文件 %1").arg(path));
    }

    connect(this, &Profile::valueChanged, this, &Profile::saveValue);
    connect(this, &Profile::keyRemoved, this, &Profile::removeKey);
}

QVariant Profile::value(const QString &key, const QVariant &defaultValue)
{
    {
        const ReadLocker locker(&d->lock);
        const auto it = d->values.constFind(key);
        if (it != d->values.constEnd())
            return it->isValid() ? *it : defaultValue;
    }
    const WriteLocker locker(&d->lock);
    // Another thread may have set the key between the two locks; recording
    // the key must not wipe out that value.
    if (!d->values.contains(key))
        d->values.insert(key, QVariant());
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
        const WriteLocker locker(&d->lock);
        d->values.insert(key, value);
    }
    // Emitted unlocked: slots may call back into the store.
    if (persist)
        emit valueChanged(key, value);
}

void Profile::remove(const QString &key)
{
    {
        const WriteLocker locker(&d->lock);
        d->values.remove(key);
    }
    emit keyRemoved(key);
}

QStringList Profile::keys() const
{
    const WriteLocker locker(&d->lock);
    return d->values.keys();
}

QDir Profile::workdir() const
{
    return d->workdir;
}

QSqlDatabase Profile::database() const
{
    return QSqlDatabase::database(profileConnection);
}

QSqlDatabase Profile::dataDatabase() const
{
    return QSqlDatabase::database(dataConnection);
}

QSqlDatabase Profile::qcDatabase() const
{
    return QSqlDatabase::database(qcConnection);
}

QSqlDatabase Profile::syslogDatabase() const
{
    return QSqlDatabase::database(syslogConnection);
}

void Profile::saveValue(const QString &key, const QVariant &value)
{
    if (!value.isValid()) {
        removeKey(key);
        return;
    }
    // Qt 5 binds a colour that is not opaque as "#aarrggbb"; the table holds
    // "#rrggbb", which every reader of the file understands.
    const QVariant stored =
        value.userType() == QMetaType::QColor ? QVariant(value.value<QColor>().name()) : value;
    execute(QStringLiteral("insert or replace into profile (name, value) values(?,?)"),
            {key, stored});
}

void Profile::removeKey(const QString &key)
{
    execute(QStringLiteral("delete from profile where name = ?"), {key});
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
    // value<T>() returns a T unchanged, converts anything else, and gives the
    // empty T when no conversion exists.
    return value(key, QVariant::fromValue(defaultValue)).template value<T>();
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
