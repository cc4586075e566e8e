#include "testinstallation.h"
#include "installation.h"

#include <QtCore/QAtomicInteger>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QDebug>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <QtCore/QSettings>
#include <QtCore/QThread>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtSql/QSqlRecord>

#include <atomic>
#include <functional>

// Runs work on a connection of its own, so that no connection of the code
// under test is touched, and removes the connection again afterwards.
static bool withDatabase(const QString &file, const std::function<bool(QSqlDatabase &)> &work)
{
    static QAtomicInteger<quint32> counter;
    const QString name = QStringLiteral("testinstallation-%1").arg(counter.fetchAndAddRelaxed(1));
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
        if (db.open())
            ok = work(db);
        else
            qWarning() << "cannot open" << file << db.lastError();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

static bool run(QSqlQuery &query, const QString &sql, const QVariantList &bindValues)
{
    if (query.prepare(sql)) {
        for (const QVariant &value : bindValues)
            query.addBindValue(value);
        if (query.exec())
            return true;
    }
    qWarning() << sql << query.lastError();
    return false;
}

TestInstallation::TestInstallation() = default;

TestInstallation::~TestInstallation()
{
    if (!m_previousDir.isEmpty())
        QDir::setCurrent(m_previousDir);
#ifdef Q_OS_WIN
    // An open file cannot be deleted here: this thread's connections to the
    // site go first (the process-wide store keeps its own to the end), and a
    // process that has just ended may hold its files a moment longer.
    const QString root = QDir(path()).absolutePath() + QLatin1Char('/');
    for (const QString &name : QSqlDatabase::connectionNames()) {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (QDir::fromNativeSeparators(QFileInfo(db.databaseName()).absoluteFilePath())
                .startsWith(root, Qt::CaseInsensitive))
            db.close();
    }
    QDeadlineTimer deadline(5000);
    while (!QDir(path()).removeRecursively() && !deadline.hasExpired())
        QThread::msleep(50);
#endif
}

QStringList TestInstallation::databaseFiles()
{
    return {QStringLiteral("profile.db"), QStringLiteral("data.db"), QStringLiteral("qc.db"),
            QStringLiteral("syslog.db")};
}

QString TestInstallation::path() const
{
    return m_dir.path();
}

QString TestInstallation::filePath(const QString &relativePath) const
{
    return QDir(m_dir.path()).filePath(relativePath);
}

bool TestInstallation::create(const QString &subdir, const QStringList &omitted)
{
    const QDir dir(filePath(subdir));
    for (const QString &file : databaseFiles()) {
        if (omitted.contains(file))
            continue;
        if (!createDatabase(dir.filePath(file), QFileInfo(file).completeBaseName()))
            return false;
    }
    return true;
}

bool TestInstallation::createDatabase(const QString &relativePath, const QString &schema)
{
    const QString file = filePath(relativePath);
    QString error;
    if (!QDir().mkpath(QFileInfo(file).absolutePath())
        || !Installation::createDatabase(file, schema, &error)) {
        qWarning() << "cannot create" << file << error;
        return false;
    }
    return true;
}

bool TestInstallation::writeSettings(const QMap<QString, QString> &values)
{
    QSettings settings(filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool TestInstallation::writeFile(const QString &relativePath, const QByteArray &content)
{
    const QString file = filePath(relativePath);
    QFile out(file);
    return QDir().mkpath(QFileInfo(file).absolutePath()) && out.open(QIODevice::WriteOnly)
        && out.write(content) == content.size();
}

void TestInstallation::enter()
{
    if (m_previousDir.isEmpty())
        m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
}

bool TestInstallation::execSql(const QString &dbFile, const QString &sql,
                               const QVariantList &bindValues)
{
    return withDatabase(filePath(dbFile), [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        return run(query, sql, bindValues);
    });
}

QList<QVariantList> TestInstallation::query(const QString &dbFile, const QString &sql,
                                            const QVariantList &bindValues)
{
    QList<QVariantList> rows;
    withDatabase(filePath(dbFile), [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (!run(query, sql, bindValues))
            return false;
        while (query.next()) {
            QVariantList row;
            for (int column = 0; column < query.record().count(); ++column)
                row << query.value(column);
            rows << row;
        }
        return true;
    });
    return rows;
}

// ---------------------------------------------------------------------------
// WarningCapture

static std::atomic<WarningCapture *> currentCapture{nullptr};

WarningCapture::WarningCapture()
    : m_outer(currentCapture.load())
{
    currentCapture = this;
    m_previous = qInstallMessageHandler(handler);
}

WarningCapture::~WarningCapture()
{
    qInstallMessageHandler(m_previous);
    currentCapture = m_outer;
}

void WarningCapture::handler(QtMsgType type, const QMessageLogContext &context,
                             const QString &message)
{
    WarningCapture *capture = currentCapture.load();
    if (!capture)
        return;
    if (type == QtWarningMsg) {
        const QMutexLocker locker(&capture->m_mutex);
        capture->m_lines << message;
    }
    if (capture->m_previous)
        capture->m_previous(type, context, message);
}

QStringList WarningCapture::lines() const
{
    const QMutexLocker locker(&m_mutex);
    return m_lines;
}

QStringList WarningCapture::linesContaining(const QString &text) const
{
    return lines().filter(text);
}

void WarningCapture::clear()
{
    const QMutexLocker locker(&m_mutex);
    m_lines.clear();
}

bool WarningCapture::hasSourcePosition(const QString &line)
{
    static const QRegularExpression position(QStringLiteral("^\\S+\\.cpp\\(\\d+\\):"));
    return position.match(line).hasMatch();
}

StoreFixture::StoreFixture()
{
    installation.enter();
}

StoreFixture::~StoreFixture()
{
    stop();
}

void StoreFixture::stop()
{
    profile.reset();
    for (const QString &name : TestInstallation::databaseFiles())
        QSqlDatabase::removeDatabase(name);
}

void StoreFixture::start(const QString &defaultProfileFile)
{
    stop();
    profile.reset(defaultProfileFile.isEmpty() ? new Profile : new Profile(defaultProfileFile));
}

QVariant StoreFixture::row(const QString &key)
{
    const QList<QVariantList> rows =
        installation.query(QStringLiteral("profile.db"),
                           QStringLiteral("select value from profile where name = ?"), {key});
    return rows.isEmpty() ? QVariant() : rows.first().value(0);
}

QMap<QString, QVariant> StoreFixture::table()
{
    QMap<QString, QVariant> rows;
    for (const QVariantList &row : installation.query(
             QStringLiteral("profile.db"), QStringLiteral("select name, value from profile")))
        rows.insert(row.at(0).toString(), row.at(1));
    return rows;
}
