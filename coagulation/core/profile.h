#ifndef PROFILE_H
#define PROFILE_H

#include "core_global.h"

#include <QtCore/QDir>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVariant>
#include <QtGui/QColor>
#include <QtSql/QSqlDatabase>

#include <memory>

class ProfilePrivate;

/**
 * @file profile.h
 * The settings store and the four database connections.
 */

/**
 * The typed display and workflow settings, in declaration order, as (type,
 * name, library default). Each name is also the setting's key, so a typed
 * accessor and value()/setValue() with that key reach the same entry. The
 * library itself reads the sample prefixes (passed verbatim), the result
 * texts and flags (translated in the context "Profile" at the time of the
 * call) and the result colours, each with the default given here, which
 * Profile::libraryDefault() returns; the others are the application's
 * (PROFILE_APPLICATION_SETTING).
 */
#define PROFILE_SETTINGS(X) PROFILE_SETTING_LIST_(X, PROFILE_WITH_DEFAULT_)
/** The same list as (type, name). */
#define PROFILE_TYPED_SETTINGS(X) PROFILE_SETTING_LIST_(X, PROFILE_WITHOUT_DEFAULT_)

/// @cond internal
#define PROFILE_WITH_DEFAULT_(X, Type, name, libraryDefault) X(Type, name, libraryDefault)
#define PROFILE_WITHOUT_DEFAULT_(X, Type, name, libraryDefault) X(Type, name)
#define PROFILE_SETTING_LIST_(X, A) \
    A(X, QString, statim_sample_prefix, PROFILE_VERBATIM("S")) \
    A(X, QString, qc_sample_prefix, PROFILE_VERBATIM("QC")) \
    A(X, QString, result_is_preparing, PROFILE_APPLICATION_SETTING) \
    A(X, QString, result_can_not_be_calculated, \
      PROFILE_TRANSLATED(QT_TRANSLATE_NOOP("Profile", "---.-"))) \
    A(X, QString, result_is_incubating, PROFILE_APPLICATION_SETTING) \
    A(X, QString, result_is_analysing, PROFILE_APPLICATION_SETTING) \
    A(X, QString, result_not_clotted, PROFILE_TRANSLATED(QT_TRANSLATE_NOOP("Profile", "不凝"))) \
    A(X, QString, dilution_result_flag, PROFILE_TRANSLATED(QT_TRANSLATE_NOOP("Profile", "!"))) \
    A(X, QString, lower_report_limit_flag, PROFILE_TRANSLATED(QT_TRANSLATE_NOOP("Profile", "<"))) \
    A(X, QString, upper_report_limit_flag, PROFILE_TRANSLATED(QT_TRANSLATE_NOOP("Profile", ">"))) \
    A(X, QString, lower_mark_limit_flag, PROFILE_TRANSLATED(QT_TRANSLATE_NOOP("Profile", "↓"))) \
    A(X, QString, upper_mark_limit_flag, PROFILE_TRANSLATED(QT_TRANSLATE_NOOP("Profile", "↑"))) \
    A(X, QString, manual_input_flag, PROFILE_TRANSLATED(QT_TRANSLATE_NOOP("Profile", "M"))) \
    A(X, QColor, color_of_waiting, PROFILE_APPLICATION_SETTING) \
    A(X, QColor, color_of_dispensing, PROFILE_APPLICATION_SETTING) \
    A(X, QColor, color_of_incubating, PROFILE_APPLICATION_SETTING) \
    A(X, QColor, color_of_analysing, PROFILE_APPLICATION_SETTING) \
    A(X, QColor, color_of_null_result, PROFILE_COLOUR(255, 0, 0)) \
    A(X, QColor, color_of_lower_report, PROFILE_COLOUR(255, 0, 0)) \
    A(X, QColor, color_of_upper_report, PROFILE_COLOUR(255, 0, 0)) \
    A(X, QColor, color_of_lower_mark, PROFILE_COLOUR(255, 170, 0)) \
    A(X, QColor, color_of_upper_mark, PROFILE_COLOUR(255, 170, 0)) \
    A(X, QString, analysis_display_assay, PROFILE_APPLICATION_SETTING) \
    A(X, QString, patient_display_fields, PROFILE_APPLICATION_SETTING) \
    A(X, int, max_qc_file, PROFILE_APPLICATION_SETTING) \
    A(X, int, qc_method, PROFILE_APPLICATION_SETTING) \
    A(X, QString, hospital, PROFILE_APPLICATION_SETTING) \
    A(X, bool, is_touch_screen, PROFILE_APPLICATION_SETTING)
/// @endcond

/**
 * The application's persistent settings and its four database connections.
 *
 * @par Start-up
 * The first Profile::instance() (or a constructor) reads the group "db" of
 * `settings.ini` in the current directory (only there), finds the profile
 * database (by default "profile.db") in ".", the executable's directory or
 * "release", in that order, registers and opens the connections
 * "profile.db", "data.db", "qc.db" and "syslog.db" (the other three joined to
 * the directory where the profile database was found) and loads the table
 * `profile` into memory. Each problem is shown in a modal warning box with
 * an Ok button, and start-up goes on: without a QApplication, or off its
 * thread, the text goes to the warning channel instead (see warning()).
 * Installation::layOut() makes a directory that starts without problems.
 *
 * Calls elsewhere in the library that start the store on first use:
 * AnalysisResult::toString(), prefix(), suffix(), foregroundRole(), the
 * constructor from text and fromString(); ClotCurve::save(), store(),
 * load() and latestVersion(); nextSampleNo() and samplePrefix().
 *
 * @par Reading and writing
 * Reads come from memory only, from any thread. A persisted change is stored
 * by a slot on the store's own change signal, so it is written in the thread
 * that owns the store: at once when made there, queued to that thread
 * otherwise. Whatever order the queued stores run in, the table ends with
 * the last persisted value of each key; stores still queued when the
 * application quits or the store is destroyed are written then. A failed
 * store writes a warning line and leaves memory as set.
 *
 * Values keep their type in memory. In the table, numbers, text, byte
 * arrays, dates and times are stored as the SQL driver binds them and come
 * back with the driver's type after a restart (an int as a 64-bit integer);
 * a colour is stored as "#rrggbb" (no alpha); lists, maps, geometry and any
 * other type with QDataStream operators are stored as a tagged blob and
 * come back as they were. A type with no stored form stays in memory and
 * its store writes a warning line.
 *
 * @par Other programs on the same file
 * Once its thread's event loop runs, the thread that owns the store asks
 * SQLite every second (`pragma data_version`, one statement on a connection
 * of the store's own) whether another connection to the profile database, in
 * another program (the report designer's store, say) or in this one (the
 * application's statements through database() among them), committed a
 * change. When one did, it reads the table once and takes each setting that changed there into
 * memory, announced by valueChanged() or keyRemoved() in that thread as a
 * change made here is, and not written back. A setting whose change made
 * here is not written yet keeps that value, which is then written. Settings
 * nobody else changed keep what memory holds, values set without @p persist
 * among them. A check that finds the file locked waits for nothing and is
 * made again a second later. While the application has database() closed
 * (to put a backup in place, say), the checks' connection lets go of the
 * file too, at the next check (Windows deletes no file a connection holds:
 * let that second pass before deleting profile.db); once database() is open
 * again, the table is read afresh and what differs is announced.
 *
 * @par Typed settings
 * For each entry N of type T of PROFILE_TYPED_SETTINGS there are
 * `void set_N(const T &value, bool persist = true)`, which is
 * setValue(N, value, persist), and `T N(const T &defaultValue)`, which is
 * value(N, defaultValue) converted to T; a stored form that does not
 * convert gives the empty T, not the default.
 *
 * @code
 * Profile &store = Profile::instance(); // after installTranslators(), on the GUI thread
 * store.set_hospital(QStringLiteral("协和医院"));  // in memory now, in the table soon
 * const QColor waiting = store.color_of_waiting(Qt::gray);
 * store.setValue(QStringLiteral("last_rack"), 12);
 * if (!store.sync())  // before reporting a run as started
 *     warning(QObject::tr("设置未能保存"));
 * @endcode
 *
 * @ingroup settings
 */
class CORE_EXPORT Profile : public QObject
{
    Q_OBJECT

public:
    /**
     * A store of its own, started at once as instance() starts its store and
     * owned by the calling thread. While another store is alive and holds
     * the connection names "profile.db" and so on, this one registers its
     * connections under names of its own (see database()), so that neither
     * store writes through the other's files.
     */
    explicit Profile(QObject *parent = nullptr);
    /** As above, with @p defaultProfileFile in place of "profile.db". */
    explicit Profile(const QString &defaultProfileFile, QObject *parent = nullptr);
    ~Profile() override;

    /**
     * The process-wide store. The first call, made from the user-interface
     * thread after the application object exists, runs start-up (and may
     * show its boxes). Made from a worker thread instead, it runs start-up
     * there, writes the start-up problems to the warning channel, and hands
     * the store and its connections to the application's thread, which owns
     * them from then on. First calls from several threads at once make one
     * store. The store is destroyed at process exit, after it has
     * written what is still queued. The store is in place before any
     * start-up problem is shown, so a call made while such a box is open
     * gets the same store. A call made later during exit (from another
     * static object's destructor, say) gets a store that answers from the
     * last values in memory and stores nothing; each such call writes a
     * warning line.
     */
    static Profile &instance();

    /**
     * The stored value, or @p defaultValue when the key is unknown or holds
     * an invalid variant. An unknown key is recorded (in memory only) and is
     * listed by keys() from then on. Any thread.
     */
    QVariant value(const QString &key, const QVariant &defaultValue = QVariant());
    /** The first key's value if valid, else the second key's value or @p defaultValue. */
    QVariant value2(const QString &key, const QString &fallbackKey,
                    const QVariant &defaultValue = QVariant());
    /**
     * Sets the value in memory; with @p persist (the default) it is also
     * stored in the table, and an invalid value deletes the key's row. Any
     * thread; the table is written in the store's own thread.
     */
    void setValue(const QString &key, const QVariant &value, bool persist = true);
    /** Forgets the key and deletes its row, whether or not the key was known. */
    void remove(const QString &key);
    QStringList keys() const;

    /**
     * Writes every persisted change that is still pending and tells whether
     * the table now holds what memory holds, as QSettings::sync() does. Call
     * it where a setting must be known to be on disk (before a run is
     * reported as started, say). In the thread that owns the store the
     * changes are written now; from any other thread the call waits until
     * that thread has written the changes made before the call, at most
     * @p timeout ms, and needs the owning thread's event loop to run: once
     * that loop has ended it answers at once (an instrument thread joined
     * after QCoreApplication::exec() returns), and it gives up at a write
     * that fails for a lasting cause (a full disk, a read-only file). False
     * also when the store has no table (no profile database, or after the
     * application object is gone) or a write failed; a change whose write
     * fails stays pending and is tried again.
     */
    bool sync(int timeout = 30000);

    /** The current directory as it was when start-up began. */
    QDir workdir() const;

    /**
     * @name Database connections
     * The thread that owns the store gets the four named connections. Any
     * other thread gets a connection of its own to the same file, opened on
     * its first use and closed and removed when that thread finishes;
     * concurrent writers wait for each other up to the busy time-out (30 s).
     * Without a profile database (start-up's first problem) each is an
     * invalid connection.
     *
     * A read left open on one connection (a QSqlQueryModel with rows still
     * to fetch, say) keeps every other connection, and every other process,
     * from writing to that file until it ends: a writer waits the busy
     * time-out and then fails. Fetch all rows, or finish() the query, before
     * leaving it for long.
     */
    ///@{
    QSqlDatabase database() const;
    QSqlDatabase dataDatabase() const;
    QSqlDatabase qcDatabase() const;
    QSqlDatabase syslogDatabase() const;
    ///@}

    /**
     * The default that the library's own readers pass for the typed setting
     * @p key (the result texts, flags and colours and the sample prefixes),
     * texts translated at the time of the call; an invalid variant for the
     * settings that only the application reads and for any other key.
     */
    static QVariant libraryDefault(const QString &key);

    // For each typed setting N of type T:
    //   void set_N(const T &value, bool persist = true);  setValue(N, value, persist)
    //   T N(const T &defaultValue);  value(N, defaultValue) converted to T; a stored
    //       form that does not convert gives the empty T, not defaultValue
#define PROFILE_DECLARE_SETTING(Type, name) \
    void set_##name(const Type &value, bool persist = true); \
    Type name(const Type &defaultValue);
    PROFILE_TYPED_SETTINGS(PROFILE_DECLARE_SETTING)
#undef PROFILE_DECLARE_SETTING

Q_SIGNALS:
    /**
     * Emitted by every persisting setValue(), in the thread that made the
     * change, and in the owning thread for a change that another connection
     * made to the table (see "Other programs on the same file").
     */
    void valueChanged(const QString &key, const QVariant &value);
    /** Emitted by every remove(), and as valueChanged() for a row another connection deleted. */
    void keyRemoved(const QString &key);

private Q_SLOTS:
    void saveValue(const QString &key, const QVariant &value);
    void removeKey(const QString &key);

private:
    struct ProcessWide
    { };
    explicit Profile(ProcessWide);
    explicit Profile(std::unique_ptr<ProfilePrivate> &&dd);
    static void tearDownInstance();
    static Profile &lateInstance();

    void init(const QString &defaultProfileFile, QThread *owner);
    void showStartupProblems();
    QSqlDatabase connection(int database) const;
    template<typename T>
    T typedValue(const QString &key, const T &defaultValue);
    template<typename T>
    void setTypedValue(const QString &key, const T &value, bool persist);

    std::unique_ptr<ProfilePrivate> d;
};

#endif // PROFILE_H
