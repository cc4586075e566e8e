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

// The typed display and workflow settings, in declaration order, as (type, name).
// Each name is also the setting's key, so a typed accessor and value()/setValue()
// with that key reach the same entry. The library itself reads the sample
// prefixes, the result texts and flags and the result colours, each with its
// own default; the others are the application's.
#define PROFILE_TYPED_SETTINGS(X) \
    X(QString, statim_sample_prefix) \
    X(QString, qc_sample_prefix) \
    X(QString, result_is_preparing) \
    X(QString, result_can_not_be_calculated) \
    X(QString, result_is_incubating) \
    X(QString, result_is_analysing) \
    X(QString, result_not_clotted) \
    X(QString, dilution_result_flag) \
    X(QString, lower_report_limit_flag) \
    X(QString, upper_report_limit_flag) \
    X(QString, lower_mark_limit_flag) \
    X(QString, upper_mark_limit_flag) \
    X(QString, manual_input_flag) \
    X(QColor, color_of_waiting) \
    X(QColor, color_of_dispensing) \
    X(QColor, color_of_incubating) \
    X(QColor, color_of_analysing) \
    X(QColor, color_of_null_result) \
    X(QColor, color_of_lower_report) \
    X(QColor, color_of_upper_report) \
    X(QColor, color_of_lower_mark) \
    X(QColor, color_of_upper_mark) \
    X(QString, analysis_display_assay) \
    X(QString, patient_display_fields) \
    X(int, max_qc_file) \
    X(int, qc_method) \
    X(QString, hospital) \
    X(bool, is_touch_screen)

// The application's persistent settings and its four database connections.
//
// Start-up reads the "db" group of settings.ini in the current directory, finds
// the profile database in ".", the executable's directory or "release", opens
// the connections "profile.db", "data.db", "qc.db" and "syslog.db" (all in the
// profile database's directory) and loads the table `profile` into memory.
// Problems are shown in a warning box and start-up goes on.
//
// Reads come from memory only. A persisted change is stored by a slot on the
// store's own change signal, so it is written in the thread that owns the
// store: at once when made there, queued to that thread otherwise. Whatever
// order the queued stores run in, the table ends with the last persisted value
// of each key; stores still queued when the application quits or the store is
// destroyed are written then.
class CORE_EXPORT Profile : public QObject
{
    Q_OBJECT

public:
    explicit Profile(QObject *parent = nullptr);
    explicit Profile(const QString &defaultProfileFile, QObject *parent = nullptr);
    ~Profile() override;

    // The process-wide store. The first call, made from the user-interface
    // thread after the application object exists, runs start-up; the store is
    // destroyed at process exit, after it has written what is still queued.
    // The store is in place before any start-up problem is shown, so a call
    // made while such a box is open gets the same store. A call made later
    // during exit (from another static object's destructor, say) gets a store
    // that answers from the last values in memory and stores nothing; each
    // such call writes a warning line.
    static Profile &instance();

    // The stored value, or defaultValue when the key is unknown or holds an
    // invalid variant. An unknown key is recorded (in memory only) and is
    // listed by keys() from then on.
    QVariant value(const QString &key, const QVariant &defaultValue = QVariant());
    // The first key's value if valid, else the second key's value or defaultValue.
    QVariant value2(const QString &key, const QString &fallbackKey,
                    const QVariant &defaultValue = QVariant());
    // Sets the value in memory; with persist (the default) it is also stored in
    // the table, and an invalid value deletes the key's row.
    void setValue(const QString &key, const QVariant &value, bool persist = true);
    // Forgets the key and deletes its row, whether or not the key was known.
    void remove(const QString &key);
    QStringList keys() const;

    // The current directory as it was when start-up began.
    QDir workdir() const;

    // The thread that ran start-up gets the four named connections. Any other
    // thread gets a connection of its own to the same file, opened on its
    // first use and closed and removed when that thread finishes; concurrent
    // writers wait for each other up to the busy time-out (30 s).
    QSqlDatabase database() const;
    QSqlDatabase dataDatabase() const;
    QSqlDatabase qcDatabase() const;
    QSqlDatabase syslogDatabase() const;

    // The default that the library's own readers pass for the typed setting
    // `key` (the result texts, flags and colours and the sample prefixes),
    // texts translated at the time of the call; an invalid variant for the
    // settings that only the application reads and for any other key.
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
    void valueChanged(const QString &key, const QVariant &value);
    void keyRemoved(const QString &key);

private Q_SLOTS:
    void saveValue(const QString &key, const QVariant &value);
    void removeKey(const QString &key);

private:
    enum StartupProblems { ShowStartupProblems, DeferStartupProblems };
    Profile(const QString &defaultProfileFile, StartupProblems problems);
    explicit Profile(std::unique_ptr<ProfilePrivate> &&dd);
    static void tearDownInstance();
    static Profile &lateInstance();

    void init(const QString &defaultProfileFile);
    void showStartupProblems();
    void store(const QString &key);
    void storePending();
    QSqlDatabase connection(int database) const;
    template<typename T>
    T typedValue(const QString &key, const T &defaultValue);
    template<typename T>
    void setTypedValue(const QString &key, const T &value, bool persist);

    std::unique_ptr<ProfilePrivate> d;
};

#endif // PROFILE_H
