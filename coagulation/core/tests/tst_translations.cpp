#include "analysisresult.h"
#include "krglobal.h"
#include "oeminfo.h"
#include "propertyitem.h"

#include <QtCore/QLibraryInfo>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTranslator>
#include <QtTest/QtTest>

using FileTags = QMap<QString, QString>;

// Collects the debug lines while it lives and hands everything else on.
class DebugCapture
{
public:
    DebugCapture()
    {
        s_lines = &m_lines;
        s_previous = qInstallMessageHandler(&DebugCapture::handler);
    }
    ~DebugCapture()
    {
        qInstallMessageHandler(s_previous);
        s_lines = nullptr;
    }
    QStringList lines() const { return m_lines; }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtDebugMsg)
            s_lines->append(message);
        else
            s_previous(type, context, message);
    }

    static inline QStringList *s_lines = nullptr;
    static inline QtMessageHandler s_previous = nullptr;
    QStringList m_lines;
};

class tst_Translations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void search_data();
    void search();
    void toolkitDirectoryLast();
    void packageDirectoryAfterTheFour();
    void englishLibrary();

private:
    // The compiled translation whose text "origin" in the context "Probe"
    // reads tag, built with the test.
    static QString compiled(const QString &tag);
    void layOut(const FileTags &files);
    void writeSettings(const QString &ini);
    QList<QTranslator *> installed() const;
    // A translator's file relative to the test's root directory.
    QString relative(const QTranslator *translator) const;

    QList<QTranslator *> m_before;
    QString m_previousDir;
    QScopedPointer<QTemporaryDir> m_root;
};

void tst_Translations::initTestCase()
{
    QVERIFY2(!compiled(QStringLiteral("qt")).isEmpty(), PROBE_QM_DIR);
    QVERIFY2(QFile::exists(QStringLiteral(KR_EN_QM)), KR_EN_QM);
    m_before = installed();
}

// Each case gets its own tree: root/work is the working directory, so root
// is ".." and root/translations is "../translations".
void tst_Translations::init()
{
    m_root.reset(new QTemporaryDir);
    QVERIFY(m_root->isValid());
    QVERIFY(QDir(m_root->path()).mkpath(QStringLiteral("work")));
    QVERIFY(QDir(m_root->path()).mkpath(QStringLiteral("translations")));
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_root->filePath(QStringLiteral("work"))));
}

void tst_Translations::cleanup()
{
    // The translators belong to the application object; deleting them also
    // uninstalls them, so the next case starts clean.
    qDeleteAll(installed());
    QDir::setCurrent(m_previousDir);
    m_root.reset();
}

QList<QTranslator *> tst_Translations::installed() const
{
    QList<QTranslator *> translators =
        qApp->findChildren<QTranslator *>(QString(), Qt::FindDirectChildrenOnly);
    for (QTranslator *old : m_before)
        translators.removeAll(old);
    return translators;
}

QString tst_Translations::relative(const QTranslator *translator) const
{
    const QString path = QFileInfo(translator->filePath()).canonicalFilePath();
    const QString root = QDir(m_root->path()).canonicalPath() + QLatin1Char('/');
    return path.startsWith(root) ? path.mid(root.size()) : path;
}

QString tst_Translations::compiled(const QString &tag)
{
    const QString qm = QStringLiteral(PROBE_QM_DIR "/probe_") + tag + QStringLiteral(".qm");
    return QFile::exists(qm) ? qm : QString();
}

// files maps a path below the root to a tag; the tag "garbage" makes a file
// that is no translation at all.
void tst_Translations::layOut(const FileTags &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString target = m_root->filePath(it.key());
        if (it.value() == QLatin1String("garbage")) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("not a translation file");
            continue;
        }
        const QString source = compiled(it.value());
        QVERIFY2(!source.isEmpty(), qPrintable(it.value()));
        QVERIFY(QFile::copy(source, target));
    }
}

void tst_Translations::writeSettings(const QString &ini)
{
    if (ini.isEmpty())
        return;
    QFile file(QStringLiteral("settings.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ini.toUtf8());
}

static QString origin()
{
    return QCoreApplication::translate("Probe", "origin");
}

void tst_Translations::search_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<FileTags>("files");
    QTest::addColumn<QStringList>("debugLines");
    QTest::addColumn<QStringList>("loaded");
    QTest::addColumn<QString>("winner");

    QTest::newRow("generic file close by before exact file further off")
        << QString()
        << FileTags{{"work/qt.qm", "dot-qt"}, {"translations/qt_zh_CN.qm", "up-qt"}}
        // Chinese is the library's own language: no kr file is missed.
        << QStringList{"\"qt_zh_CN\" loaded"} << QStringList{"work/qt.qm"} << "dot-qt";
    QTest::newRow("working directory before ../translations")
        << QString()
        << FileTags{{"translations/qt_zh_CN.qm", "qt"},
                    {"work/kr_zh_CN.qm", "dot-kr"},
                    {"translations/kr_zh_CN.qm", "up-kr"}}
        << QStringList{"\"qt_zh_CN\" loaded", "\"kr_zh_CN\" loaded"}
        << QStringList{"translations/qt_zh_CN.qm", "work/kr_zh_CN.qm"} << "dot-kr";
    QTest::newRow("parent before ../translations")
        << QString()
        << FileTags{{"translations/qt_zh_CN.qm", "qt"},
                    {"kr_zh_CN.qm", "parent-kr"},
                    {"translations/kr_zh_CN.qm", "up-kr"}}
        << QStringList{"\"qt_zh_CN\" loaded", "\"kr_zh_CN\" loaded"}
        << QStringList{"translations/qt_zh_CN.qm", "kr_zh_CN.qm"} << "parent-kr";
    QTest::newRow("company file last and winning")
        << "[settings]\ncompany=vendor\n"
        << FileTags{{"translations/qt_zh_CN.qm", "qt"},
                    {"translations/kr_zh_CN.qm", "kr"},
                    {"work/vendor_zh_CN.qm", "vendor"}}
        << QStringList{"\"qt_zh_CN\" loaded", "\"kr_zh_CN\" loaded", "\"vendor_zh_CN\" loaded"}
        << QStringList{"translations/qt_zh_CN.qm", "translations/kr_zh_CN.qm",
                       "work/vendor_zh_CN.qm"}
        << "vendor";
    QTest::newRow("explicit list replaces defaults and company")
        << "[settings]\ncompany=vendor\nlanguage=en\ntranslations=kr\n"
        << FileTags{{"work/qt_en.qm", "qt"},
                    {"work/kr_en.qm", "kr"},
                    {"work/vendor_en.qm", "vendor"}}
        << QStringList{"\"kr_en\" loaded"} << QStringList{"work/kr_en.qm"} << "kr";
    QTest::newRow("explicit list in its order")
        << "[settings]\nlanguage=en\ntranslations=vendor,kr\n"
        << FileTags{{"work/kr_en.qm", "kr"}, {"work/vendor_en.qm", "vendor"}}
        << QStringList{"\"vendor_en\" loaded", "\"kr_en\" loaded"}
        << QStringList{"work/vendor_en.qm", "work/kr_en.qm"} << "kr";
    QTest::newRow("invalid file skipped")
        << "[settings]\ntranslations=kr\n"
        << FileTags{{"work/kr_zh_CN.qm", "garbage"}, {"kr_zh_CN.qm", "parent-kr"}}
        << QStringList{"\"kr_zh_CN\" loaded"} << QStringList{"kr_zh_CN.qm"} << "parent-kr";
    QTest::newRow("UTF-8 settings")
        << "[settings]\ntranslations=协和\n"
        << FileTags{{"work/协和_zh_CN.qm", "vendor"}} << QStringList{"\"协和_zh_CN\" loaded"}
        << QStringList{"work/协和_zh_CN.qm"} << "vendor";
    QTest::newRow("found nowhere")
        << "[settings]\nlanguage=en\ntranslations=alpha,beta\n"
        << FileTags() << QStringList{"\"alpha_en\" not found", "\"beta_en\" not found"}
        << QStringList() << "origin";
}

void tst_Translations::search()
{
    QFETCH(QString, settings);
    QFETCH(FileTags, files);
    QFETCH(QStringList, debugLines);
    QFETCH(QStringList, loaded);
    QFETCH(QString, winner);

    writeSettings(settings);
    layOut(files);
    {
        DebugCapture capture;
        installTranslators();
        QStringList lines = capture.lines();
        // A missing file's line goes on to name the directories searched.
        for (QString &line : lines) {
            const int looked = line.indexOf(QLatin1String("; looked in \".\", \"..\", "
                                                          "\"../translations\", "));
            if (line.contains(QLatin1String(" not found")))
                QVERIFY2(looked > 0, qPrintable(line));
            line.truncate(looked < 0 ? line.size() : looked);
        }
        QCOMPARE(lines, debugLines);
    }

    QStringList loadedFiles;
    for (const QTranslator *translator : installed())
        loadedFiles << relative(translator);
    QCOMPARE(loadedFiles, loaded);
    QCOMPARE(origin(), winner);
}

void tst_Translations::toolkitDirectoryLast()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString toolkitDir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString toolkitDir = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    const QString toolkitFile = QDir(toolkitDir).filePath(QStringLiteral("qt_zh_CN.qm"));
    if (!QFile::exists(toolkitFile))
        QSKIP("the toolkit's Chinese translation is not installed");
    writeSettings(QStringLiteral("[settings]\ntranslations=qt\n"));

    installTranslators();
    const QList<QTranslator *> translators = installed();
    QCOMPARE(translators.size(), 1);
    QCOMPARE(QFileInfo(translators.first()->filePath()).canonicalFilePath(),
             QFileInfo(toolkitFile).canonicalFilePath());
}

// The directory an installed package names is searched after the four, so a
// file put beside the application still wins.
void tst_Translations::packageDirectoryAfterTheFour()
{
    writeSettings(QStringLiteral("[settings]\nlanguage=en\ntranslations=kr,vendor\n"));
    QVERIFY(QDir(m_root->path()).mkpath(QStringLiteral("share/coagulation")));
    layOut({{"share/coagulation/kr_en.qm", "package-kr"},
            {"share/coagulation/vendor_en.qm", "package-vendor"},
            {"work/vendor_en.qm", "dot-vendor"}});
    {
        DebugCapture capture;
        installTranslators(m_root->filePath(QStringLiteral("share/coagulation")));
        QCOMPARE(capture.lines(), (QStringList{"\"kr_en\" loaded", "\"vendor_en\" loaded"}));
    }
    QStringList loadedFiles;
    for (const QTranslator *translator : installed())
        loadedFiles << relative(translator);
    QCOMPARE(loadedFiles, (QStringList{"share/coagulation/kr_en.qm", "work/vendor_en.qm"}));
    QCOMPARE(origin(), QStringLiteral("dot-vendor"));
}

void tst_Translations::englishLibrary()
{
    writeSettings(QStringLiteral("[settings]\nlanguage=en\n"));
    QVERIFY(QFile::copy(QStringLiteral(KR_EN_QM),
                        m_root->filePath(QStringLiteral("translations/kr_en.qm"))));
    installTranslators();

    QCOMPARE(AnalysisResult(AnalysisResult::NoStandardCurve).errorText(),
             QStringLiteral("No standard curve"));
    QCOMPARE(AnalysisResult(AnalysisResult::MissingCalculationParameter).errorText(),
             QStringLiteral("Parameters needed for the calculation are missing"));
    QCOMPARE(OemInfo::krApplicationName(), QStringLiteral("Automatic Coagulation Analyzer"));
    QCOMPARE(OemInfo::krAboutText().arg(QStringLiteral("Analyzer"), QStringLiteral("1.0")),
             QStringLiteral("<h2>Analyzer</h2>\nVersion: 1.0"));
    QCOMPARE(OemInfo::oemIdText(), QStringLiteral("0001"));
    QCOMPARE(QCoreApplication::translate("Profile", "不凝"), QStringLiteral("No clot"));
    QCOMPARE(QCoreApplication::translate("Profile", "↑"), QStringLiteral("↑"));
    QCOMPARE(QCoreApplication::translate("Profile", "错误的数据库文件 %1"),
             QStringLiteral("Invalid database file %1"));

    PropertyItemModel model;
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Value"));
}

QTEST_MAIN(tst_Translations)
#include "tst_translations.moc"
