#ifndef TESTINSTALLATION_H
#define TESTINSTALLATION_H

#include <QtCore/QList>
#include <QtCore/QMap>
#include <QtCore/QMutex>
#include <QtCore/QStringList>
#include <QtCore/QTemporaryDir>
#include <QtCore/QVariant>

#include "messageboxanswerer.h"
#include "profile.h"

#include <memory>

// An installation of the application laid out in a temporary directory:
// settings.ini and the four SQLite databases, each created from its schema in
// schema/. The directory goes away with the object.
//
//     TestInstallation inst;
//     QVERIFY(inst.create());
//     inst.enter();              // current directory until inst is destroyed
//
// Database files are named relative to path() (or absolute); every access
// opens its own private connection and removes it again.
class TestInstallation
{
public:
    TestInstallation();
    ~TestInstallation();

    // "profile.db", "data.db", "qc.db", "syslog.db"
    static QStringList databaseFiles();

    QString path() const;
    QString filePath(const QString &relativePath) const;

    // Creates the four databases in subdir (path() itself when empty), all
    // but the omitted ones.
    bool create(const QString &subdir = QString(), const QStringList &omitted = QStringList());
    // Creates one database at relativePath from schema/<schema>.sql, for
    // example createDatabase("other/clinic.db", "data").
    bool createDatabase(const QString &relativePath, const QString &schema);
    // Writes settings.ini with the given keys, e.g. {"db/data", "clinic.db"}.
    bool writeSettings(const QMap<QString, QString> &values);
    // Writes any file, e.g. one that is no database at all.
    bool writeFile(const QString &relativePath, const QByteArray &content);

    // Makes path() the current directory; the destructor goes back.
    void enter();

    bool execSql(const QString &dbFile, const QString &sql,
                 const QVariantList &bindValues = QVariantList());
    // All rows of a select, each as the list of its column values; empty when
    // the statement fails (the failure is written as a warning).
    QList<QVariantList> query(const QString &dbFile, const QString &sql,
                              const QVariantList &bindValues = QVariantList());

private:
    Q_DISABLE_COPY(TestInstallation)

    QTemporaryDir m_dir;
    QString m_previousDir;
};

// A laid-out installation made the current directory, message boxes
// answered, and a store of its own on it: where most tests of the store
// begin. Everything goes with the object, the store first, then the
// connections it registered.
//
//     StoreFixture site;
//     QVERIFY(site.installation.create());
//     site.start();
class StoreFixture
{
public:
    StoreFixture();
    ~StoreFixture();

    // Starts the store, or restarts it: a new store on fresh connections,
    // which reads the files again.
    void start(const QString &defaultProfileFile = QString());
    // The value column of a row of profile.db's table, invalid without one.
    QVariant row(const QString &key);
    QMap<QString, QVariant> table();

    TestInstallation installation;
    MessageBoxAnswerer answerer;
    std::unique_ptr<Profile> profile;

private:
    Q_DISABLE_COPY(StoreFixture)
    void stop();
};

// Collects the lines written to the warning channel while it lives, from any
// thread, and passes every message on to the handler that was installed before.
class WarningCapture
{
public:
    WarningCapture();
    ~WarningCapture();

    QStringList lines() const;
    // The captured lines that contain text.
    QStringList linesContaining(const QString &text) const;
    void clear();

    // Whether a warning line starts with the library's "path(line):" position.
    static bool hasSourcePosition(const QString &line);

private:
    Q_DISABLE_COPY(WarningCapture)
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    mutable QMutex m_mutex;
    QStringList m_lines;
    WarningCapture *m_outer;
    QtMessageHandler m_previous;
};

// Compares two variants by type and value: QVariant's operator== converts, but
// a stored value must come back with its type. For use inside a test function.
#define COMPARE_EXACT(actual, expected) \
    do { \
        const QVariant a_ = (actual), e_ = (expected); \
        QCOMPARE(a_.typeName(), e_.typeName()); \
        QCOMPARE(a_, e_); \
    } while (false)

#endif // TESTINSTALLATION_H
