#include "installation.h"
#include "krglobal.h"
#include "mainwindow.h"
#include "messageboxanswerer.h"
#include "profile.h"
#include "programtranslator.h"
#include "settingsitems.h"
#include "testinstallation.h"

#include <QtCore/QTranslator>
#include <QtTest/QAbstractItemModelTester>
#include <QtTest/QtTest>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QTreeView>
// QAction moved from the widgets module to the GUI module in Qt 6.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtGui/QAction>
#else
#include <QtWidgets/QAction>
#endif

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class tst_SettingsEditor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void everySettingOnce_data();
    void everySettingOnce();
    void unsetShowsLibraryDefault_data();
    void unsetShowsLibraryDefault();
    void edit_data();
    void edit();
    void refusedEdit_data();
    void refusedEdit();
    void editColourTextInView();
    void revertShowsStore();

    void layOut_data();
    void layOut();
    void layOutConcurrently();
    void layOutRefused_data();
    void layOutRefused();

    void translationFound_data();
    void translationFound();
    void followsLanguageOfSettings();

private:
    SettingItem *item(const QString &key) const;
    QList<QVariantList> table();

    std::unique_ptr<StoreFixture> m_site;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void tst_SettingsEditor::initTestCase()
{
    m_site.reset(new StoreFixture);
    QVERIFY(m_site->installation.create());
    m_site->start();
    QVERIFY(m_site->answerer.seen.isEmpty());

    m_window.reset(new MainWindow(*m_site->profile));
    m_tester.reset(new QAbstractItemModelTester(
        m_window->model(), QAbstractItemModelTester::FailureReportingMode::QtTest));
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_SettingsEditor::cleanupTestCase()
{
    m_tester.reset();
    m_window.reset();
    m_site.reset();
}

SettingItem *tst_SettingsEditor::item(const QString &key) const
{
    for (const PropertyItem *group : m_window->model()->rootItem()->children()) {
        for (PropertyItem *child : group->children()) {
            auto *setting = dynamic_cast<SettingItem *>(child);
            if (setting && setting->key() == key)
                return setting;
        }
    }
    return nullptr;
}

QList<QVariantList> tst_SettingsEditor::table()
{
    return m_site->installation.query(
        QStringLiteral("profile.db"),
        QStringLiteral("select name, value from profile order by name"));
}

void tst_SettingsEditor::everySettingOnce_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("type");
#define SETTING_ROW(Type, name) \
    QTest::newRow(#name) << QStringLiteral(#name) << qMetaTypeId<Type>();
    PROFILE_TYPED_SETTINGS(SETTING_ROW)
#undef SETTING_ROW
}

void tst_SettingsEditor::everySettingOnce()
{
    QFETCH(QString, key);
    QFETCH(int, type);

    int found = 0;
    for (const PropertyItem *group : m_window->model()->rootItem()->children()) {
        for (const PropertyItem *child : group->children()) {
            const auto *setting = dynamic_cast<const SettingItem *>(child);
            found += setting && setting->key() == key;
        }
    }
    QCOMPARE(found, 1);

    // The item holds what the typed getter returns, labelled in Chinese,
    // with the key as tooltip in both cells.
    const SettingItem *setting = item(key);
    QCOMPARE(setting->value().userType(), type);
    QVERIFY(setting->name() != key && !setting->name().isEmpty());
    QCOMPARE(setting->index().data(Qt::ToolTipRole).toString(), key);
    QCOMPARE(setting->valueIndex().data(Qt::ToolTipRole).toString(), key);
}

void tst_SettingsEditor::unsetShowsLibraryDefault_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QVariant>("decoration");

    QTest::newRow("prefix") << "qc_sample_prefix"
                            << "QC" << QVariant();
    QTest::newRow("not clotted") << "result_not_clotted"
                                 << "不凝" << QVariant();
    QTest::newRow("mark colour") << "color_of_upper_mark"
                                 << "#ffaa00" << QVariant(QColor(255, 170, 0));
    QTest::newRow("application colour") << "color_of_analysing"
                                        << "" << QVariant();
    QTest::newRow("application text") << "patient_display_fields"
                                      << "" << QVariant();
}

void tst_SettingsEditor::unsetShowsLibraryDefault()
{
    QFETCH(QString, key);
    QFETCH(QString, display);
    QFETCH(QVariant, decoration);

    const QModelIndex cell = item(key)->valueIndex();
    QCOMPARE(cell.data().toString(), display);
    QCOMPARE(cell.data(Qt::DecorationRole), decoration);
    // Showing a default writes nothing.
    QVERIFY(!m_site->row(key).isValid());
}

void tst_SettingsEditor::edit_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("typed");
    QTest::addColumn<QVariant>("display");

    const QString hospital = QStringLiteral("市第一人民医院");
    QTest::newRow("string") << "hospital" << QVariant(hospital) << int(Qt::EditRole)
                            << QVariant(hospital) << QVariant(hospital) << QVariant(hospital);
    QTest::newRow("colour") << "color_of_waiting" << QVariant(QColor(0x12, 0x34, 0x56))
                            << int(Qt::EditRole) << QVariant("#123456")
                            << QVariant(QColor(0x12, 0x34, 0x56)) << QVariant("#123456");
    QTest::newRow("colour name") << "color_of_dispensing" << QVariant("#00ff80")
                                 << int(Qt::EditRole) << QVariant("#00ff80")
                                 << QVariant(QColor(0, 255, 128)) << QVariant("#00ff80");
    // The store keeps the alpha for the running process only.
    QTest::newRow("colour with alpha")
        << "color_of_incubating" << QVariant(QColor(10, 20, 30, 128)) << int(Qt::DisplayRole)
        << QVariant("#0a141e") << QVariant(QColor(10, 20, 30, 128)) << QVariant("#0a141e");
    QTest::newRow("integer") << "max_qc_file" << QVariant(42) << int(Qt::EditRole)
                             << QVariant(qlonglong(42)) << QVariant(42) << QVariant(42);
    QTest::newRow("integer from text") << "qc_method" << QVariant("7") << int(Qt::EditRole)
                                       << QVariant(qlonglong(7)) << QVariant(7) << QVariant(7);
    QTest::newRow("check box") << "is_touch_screen" << QVariant(int(Qt::Checked))
                               << int(Qt::CheckStateRole) << QVariant(qlonglong(1))
                               << QVariant(true) << QVariant();
    QTest::newRow("boolean value") << "is_touch_screen" << QVariant(false) << int(Qt::EditRole)
                                   << QVariant(qlonglong(0)) << QVariant(false) << QVariant();
}

void tst_SettingsEditor::edit()
{
    QFETCH(QString, key);
    QFETCH(QVariant, input);
    QFETCH(int, role);
    QFETCH(QVariant, stored);
    QFETCH(QVariant, typed);
    QFETCH(QVariant, display);

    const QModelIndex cell = item(key)->valueIndex();
    QSignalSpy changed(m_window->model(), &QAbstractItemModel::dataChanged);
    QVERIFY(m_window->model()->setData(cell, input, role));

    QCOMPARE(changed.count(), 1);
    COMPARE_EXACT(m_site->row(key), stored);
    COMPARE_EXACT(m_site->profile->value(key), typed);
    COMPARE_EXACT(item(key)->value(), typed);
    COMPARE_EXACT(cell.data(), display);
    if (typed.userType() == QMetaType::Bool)
        QCOMPARE(cell.data(Qt::CheckStateRole).toInt(),
                 int(typed.toBool() ? Qt::Checked : Qt::Unchecked));
}

void tst_SettingsEditor::refusedEdit_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("input");

    QTest::newRow("integer from words") << "max_qc_file" << QVariant("many");
    QTest::newRow("text naming no colour") << "color_of_lower_report" << QVariant("rot");
    QTest::newRow("invalid colour") << "color_of_lower_report" << QVariant(QColor());
    QTest::newRow("no value") << "hospital" << QVariant();
}

void tst_SettingsEditor::refusedEdit()
{
    QFETCH(QString, key);
    QFETCH(QVariant, input);

    const QVariant storedBefore = m_site->row(key);
    const QVariant valueBefore = item(key)->value();
    m_window->model()->setData(item(key)->valueIndex(), input, Qt::EditRole);

    COMPARE_EXACT(m_site->row(key), storedBefore);
    COMPARE_EXACT(item(key)->value(), valueBefore);
}

void tst_SettingsEditor::editColourTextInView()
{
    // Editing starts on the name cell and moves to its value cell.
    QTreeView *view = m_window->view();
    const SettingItem *setting = item(QStringLiteral("color_of_null_result"));
    view->edit(setting->index());
    auto *editor = view->viewport()->findChild<QLineEdit *>();
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("#ff0000"));

    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("#336699"));
    QTest::keyClick(editor, Qt::Key_Return);
    // The delegate commits from the event loop.
    QTRY_VERIFY(!view->viewport()->findChild<QLineEdit *>());
    COMPARE_EXACT(m_site->row(setting->key()), QVariant("#336699"));
    COMPARE_EXACT(setting->value(), QVariant(QColor(0x33, 0x66, 0x99)));
}

void tst_SettingsEditor::revertShowsStore()
{
    const QString hospital = QStringLiteral("中心医院");
    QVERIFY(m_window->model()->setData(item(QStringLiteral("hospital"))->valueIndex(), hospital));
    // The store read the table at start-up and does not see this change.
    QVERIFY(m_site->installation.execSql(
        QStringLiteral("profile.db"), QStringLiteral("update profile set value = ? where name = ?"),
        {QStringLiteral("其他医院"), QStringLiteral("hospital")}));
    // Changed for this process only, past the editor.
    m_site->profile->set_qc_method(9, false);
    m_site->profile->set_color_of_upper_report(QColor(Qt::blue), false);
    const QList<QVariantList> before = table();

    QSignalSpy changed(m_window->model(), &QAbstractItemModel::dataChanged);
    auto *revert = m_window->findChild<QAction *>(QStringLiteral("revert"));
    QVERIFY(revert);
    revert->trigger();

    QCOMPARE(item(QStringLiteral("hospital"))->valueIndex().data().toString(), hospital);
    COMPARE_EXACT(item(QStringLiteral("qc_method"))->value(), QVariant(9));
    const QModelIndex colour = item(QStringLiteral("color_of_upper_report"))->valueIndex();
    QCOMPARE(colour.data().toString(), QStringLiteral("#0000ff"));
    QCOMPARE(colour.data(Qt::DecorationRole), QVariant(QColor(Qt::blue)));
    // Every cell is told, and nothing is written.
    QCOMPARE(changed.count(), 28);
    QCOMPARE(table(), before);
}

void tst_SettingsEditor::layOut_data()
{
    QTest::addColumn<QStringList>("present");
    // Present as empty files: what start-up leaves of a database it did not
    // find, since SQLite makes the file on opening.
    QTest::addColumn<QStringList>("empty");
    QTest::addColumn<QByteArray>("settings"); // settings.ini, when not empty
    QTest::addColumn<QStringList>("created");
    QTest::addColumn<QStringList>("absent");

    const QStringList all = TestInstallation::databaseFiles();
    const QStringList no;
    const QByteArray none;
    QTest::newRow("empty directory") << no << no << none << all << no;
    QTest::newRow("profile missing") << QStringList{"data.db"} << no << none
                                     << QStringList{"profile.db", "qc.db", "syslog.db"} << no;
    QTest::newRow("installed") << all << no << none << no << no;
    QTest::newRow("only the profile") << QStringList{"profile.db"} << no << none
                                      << QStringList{"data.db", "qc.db", "syslog.db"} << no;
    QTest::newRow("data.db left empty by a start-up")
        << QStringList{"profile.db", "qc.db", "syslog.db"} << QStringList{"data.db"} << none
        << QStringList{"data.db"} << no;
    QTest::newRow("named in settings.ini")
        << no << no << QByteArray("[db]\nprofile=site/clinic.db\n")
        << QStringList{"site/clinic.db", "data.db"} << QStringList{"profile.db"};
    // As a text editor saves it: UTF-8, no escapes.
    QTest::newRow("named in Chinese")
        << no << no << QStringLiteral("[db]\nprofile=配置.db\n").toUtf8()
        << QStringList{"配置.db", "data.db"} << QStringList{"profile.db"};
    // As Notepad saves it on a Chinese Windows: GBK.
    QTest::newRow("named in GBK") << no << no << QByteArray("[db]\nprofile=\xc5\xe4\xd6\xc3.db\n")
                                  << QStringList{"配置.db", "data.db"} << QStringList{"profile.db"};
}

void tst_SettingsEditor::layOut()
{
    QFETCH(QStringList, present);
    QFETCH(QStringList, empty);
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, created);
    QFETCH(QStringList, absent);

    TestInstallation dir;
    for (const QString &file : present)
        QVERIFY(dir.createDatabase(file, QFileInfo(file).completeBaseName()));
    for (const QString &file : empty)
        QVERIFY(dir.writeFile(file, QByteArray()));
    if (!settings.isEmpty())
        QVERIFY(dir.writeFile(QStringLiteral("settings.ini"), settings));
    dir.enter();

    // A second run finds the installation and changes nothing.
    for (int run = 0; run < 2; ++run) {
        QString error;
        QVERIFY2(Installation::layOut(QDir::currentPath(), &error), qPrintable(error));
    }
    for (const QString &file : created) {
        const QList<QVariantList> tables = dir.query(
            file, QStringLiteral("select count(*) from sqlite_master where type = 'table'"));
        QVERIFY2(!tables.isEmpty() && tables.first().first().toInt() > 0, qPrintable(file));
    }
    for (const QString &file : absent)
        QVERIFY2(!QFileInfo::exists(dir.filePath(file)), qPrintable(file));
}

// Two installers, or an installer and the application's first start, at
// the same moment: every run succeeds and every file is whole.
void tst_SettingsEditor::layOutConcurrently()
{
    TestInstallation dir;
    const QString site = dir.filePath(QStringLiteral("site"));
    std::atomic<int> ready{0};
    std::mutex errorsMutex;
    QStringList errors;
    std::vector<std::thread> runs;
    for (int run = 0; run < 4; ++run) {
        runs.emplace_back([&] {
            for (++ready; ready < 4;)
                std::this_thread::yield();
            QString error;
            if (!Installation::layOut(site, &error)) {
                const std::lock_guard<std::mutex> locker(errorsMutex);
                errors << error;
            }
        });
    }
    for (std::thread &run : runs)
        run.join();
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    QCOMPARE(QDir(site).entryList(QDir::Files),
             (QStringList{"data.db", "profile.db", "qc.db", "settings.ini", "syslog.db"}));
    for (const QString &file : TestInstallation::databaseFiles()) {
        const QList<QVariantList> tables =
            dir.query(QStringLiteral("site/") + file,
                      QStringLiteral("select count(*) from sqlite_master where type = 'table'"));
        QVERIFY2(!tables.isEmpty() && tables.first().first().toInt() > 0, qPrintable(file));
    }
}

// A set-up run that fails leaves no profile database: an application that
// finds one takes the installation for complete.
void tst_SettingsEditor::layOutRefused_data()
{
    QTest::addColumn<QString>("inTheWay"); // a directory where a database goes
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("error");

    QTest::newRow("directory in place of data.db")
        << "site/data.db" << QByteArray() << "data.db is a directory";
    // Start-up would find the data tables beside the settings.
    QTest::newRow("two databases, one file") << QString() << QByteArray("[db]\ndata=profile.db\n")
                                             << "site/profile.db for two databases";
}

void tst_SettingsEditor::layOutRefused()
{
    QFETCH(QString, inTheWay);
    QFETCH(QByteArray, settings);
    QFETCH(QString, error);

    TestInstallation dir;
    if (!inTheWay.isEmpty())
        QVERIFY(QDir().mkpath(dir.filePath(inTheWay)));
    if (!settings.isEmpty())
        QVERIFY(dir.writeFile(QStringLiteral("site/settings.ini"), settings));
    QString reported;
    QVERIFY(!Installation::layOut(dir.filePath(QStringLiteral("site")), &reported));
    QVERIFY2(reported.endsWith(error), qPrintable(reported));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("site"))).entryList(QDir::Files),
             QStringList{"settings.ini"});
}

// An installation in "site" whose settings.ini names a language.
static bool writeSite(TestInstallation &dir, const QString &language)
{
    return dir.writeFile(QStringLiteral("site/settings.ini"),
                         "[settings]\nlanguage=" + language.toUtf8() + '\n');
}

// Runs work in `directory` and goes back; the translators installed meanwhile
// are removed again.
template<typename Work>
static void inDirectory(const QString &directory, Work work)
{
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(directory));
    work();
    QDir::setCurrent(previous);
    qDeleteAll(QCoreApplication::instance()->findChildren<QTranslator *>());
}

void tst_SettingsEditor::translationFound_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("language");
    QTest::addColumn<bool>("found");

    // Where installTranslators() looks for the library's files.
    QTest::newRow("installation") << "site/settingseditor_en.qm"
                                  << "en" << true;
    QTest::newRow("above it") << "settingseditor_en.qm"
                              << "en" << true;
    QTest::newRow("translations beside it") << "translations/settingseditor_en.qm"
                                            << "en" << true;
    QTest::newRow("regional language") << "translations/settingseditor_en.qm"
                                       << "en_GB" << true;
    QTest::newRow("another language") << "site/settingseditor_en.qm"
                                      << "zh_CN" << false;
    QTest::newRow("elsewhere") << "site/lib/settingseditor_en.qm"
                               << "en" << false;
}

void tst_SettingsEditor::translationFound()
{
    QFETCH(QString, place);
    QFETCH(QString, language);
    QFETCH(bool, found);

    TestInstallation dir;
    QVERIFY(writeSite(dir, language));
    QVERIFY(QDir().mkpath(QFileInfo(dir.filePath(place)).path()));
    QVERIFY(QFile::copy(QStringLiteral(SETTINGSEDITOR_EN_QM), dir.filePath(place)));
    inDirectory(dir.filePath(QStringLiteral("site")), [&] {
        QCOMPARE(installProgramTranslator(QStringLiteral("settingseditor")), found);
        QCOMPARE(MainWindow::tr("还原"), found ? QStringLiteral("Revert") : QStringLiteral("还原"));
    });
}

void tst_SettingsEditor::followsLanguageOfSettings()
{
    // The build's translations, as an installation laid out beside them finds them.
    TestInstallation dir;
    QVERIFY(writeSite(dir, QStringLiteral("en")));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("translations"))));
    for (const QString &file : {QStringLiteral(KR_EN_QM), QStringLiteral(SETTINGSEDITOR_EN_QM)}) {
        QVERIFY(QFile::copy(
            file, dir.filePath(QStringLiteral("translations/")) + QFileInfo(file).fileName()));
    }

    inDirectory(dir.filePath(QStringLiteral("site")), [&] {
        installTranslators();
        QVERIFY(installProgramTranslator(QStringLiteral("settingseditor")));
        MainWindow window(*m_site->profile);

        QCOMPARE(window.findChild<QAction *>(QStringLiteral("revert"))->text(),
                 QStringLiteral("Revert"));
        QVERIFY(window.windowTitle().startsWith(QStringLiteral("Settings editor - ")));
        // A default that nobody stored comes from the library, in the language asked for.
        const PropertyItem *notClotted = nullptr;
        QStringList texts = {window.model()->headerData(0, Qt::Horizontal).toString(),
                             window.model()->headerData(1, Qt::Horizontal).toString()};
        for (const PropertyItem *group : window.model()->rootItem()->children()) {
            texts << group->name();
            for (const PropertyItem *child : group->children()) {
                texts << child->name();
                if (static_cast<const SettingItem *>(child)->key() == "result_not_clotted")
                    notClotted = child;
            }
        }
        const QRegularExpression chinese(
            QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
        for (const QString &text : texts)
            QVERIFY2(!text.isEmpty() && !text.contains(chinese), qPrintable(text));
        QVERIFY(notClotted);
        QCOMPARE(notClotted->name(), QStringLiteral("Not clotted"));
        QCOMPARE(notClotted->value().toString(), QStringLiteral("No clot"));
    });
}

QTEST_MAIN(tst_SettingsEditor)
#include "tst_settingseditor.moc"
