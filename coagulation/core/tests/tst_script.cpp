#include "krglobal.h"
#include "messageboxanswerer.h"

#include <QtCore/QDateTime>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

// QtScript keeps two small allocations for the life of the process, however
// many engines come and go; they are no leak of ours.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libQt5Script";
}

class tst_Script : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void evalValues_data();
    void evalValues();
    void evalGetsFreshEngine();
    void evalShowsNoError();
    void loadScript_data();
    void loadScript();
    void loadMissingFile();
    void loadScriptError_data();
    void loadScriptError();

private:
    QString writeScript(const QByteArray &content);

    QTemporaryDir m_dir;
    int m_scripts = 0;
};

void tst_Script::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

// The debug form names the type of every value, nested ones included, which a
// plain QVariant comparison (int 3 equals double 3.0) would not check.
static QString typed(const QVariant &value)
{
    QString text;
    QDebug(&text) << value;
    return text;
}

QString tst_Script::writeScript(const QByteArray &content)
{
    QFile file(m_dir.filePath(QStringLiteral("script%1.js").arg(++m_scripts)));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return file.fileName();
}

void tst_Script::evalValues_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("number") << "1+2" << QVariant(3.0);
    QTest::newRow("string") << "'a'+'b'" << QVariant(QStringLiteral("ab"));
    QTest::newRow("bool") << "1 > 2" << QVariant(false);
    QTest::newRow("date") << "new Date(Date.UTC(2020, 1, 29, 12, 30))"
                          << QVariant(QDateTime(QDate(2020, 2, 29), QTime(12, 30), Qt::UTC));
    QTest::newRow("array") << "[1, 'x', true]"
                           << QVariant(QVariantList{1.0, QStringLiteral("x"), true});
    QTest::newRow("object") << "({assay: 'PT', seconds: 12.5, runs: 3})"
                            << QVariant(QVariantMap{{QStringLiteral("assay"), QStringLiteral("PT")},
                                                    {QStringLiteral("seconds"), 12.5},
                                                    {QStringLiteral("runs"), 3.0}});
    QTest::newRow("last statement") << "var a = 2; a * 21" << QVariant(42.0);
    QTest::newRow("standard globals") << "Math.max(2, 7)" << QVariant(7.0);
    QTest::newRow("undefined") << "undefined" << QVariant();
    QTest::newRow("null") << "null" << QVariant();
    QTest::newRow("empty") << "" << QVariant();
    QTest::newRow("declaration only") << "var a = 1;" << QVariant();
}

void tst_Script::evalValues()
{
    QFETCH(QString, program);
    QFETCH(QVariant, expected);

    const QVariant value = eval(program);
    QCOMPARE(value.userType(), expected.userType());
    if (expected.userType() == QMetaType::QDateTime)
        QCOMPARE(value.toDateTime().toUTC(), expected.toDateTime());
    else
        QCOMPARE(typed(value), typed(expected));
}

void tst_Script::evalGetsFreshEngine()
{
    QCOMPARE(eval(QStringLiteral("x = 5")), QVariant(5.0));
    // A second call must not see the first call's global.
    QVERIFY(eval(QStringLiteral("x")) != QVariant(5.0));
    QCOMPARE(eval(QStringLiteral("typeof x")), QVariant(QStringLiteral("undefined")));
}

void tst_Script::evalShowsNoError()
{
    MessageBoxAnswerer answerer;
    eval(QStringLiteral("1 +* 2"));
    eval(QStringLiteral("throw new Error('x')"));
    QCoreApplication::processEvents();
    QVERIFY(answerer.seen.isEmpty());
}

void tst_Script::loadScript_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("number") << QByteArray("6*7") << QVariant(42.0);
    QTest::newRow("declaration only") << QByteArray("var ratio = 0.5;\n") << QVariant();
    QTest::newRow("CRLF lines") << QByteArray("var a = 'first\\\r\nsecond';\r\na.length\r\n")
                                << QVariant(11.0);
    QTest::newRow("Chinese literal")
        << QStringLiteral("var name = '凝血酶时间';\nname + '（秒）'").toUtf8()
        << QVariant(QStringLiteral("凝血酶时间（秒）"));
    QTest::newRow("UTF-8 with BOM")
        << QByteArray("\xEF\xBB\xBF'\xE5\x87\x9D'") << QVariant(QStringLiteral("凝"));
}

void tst_Script::loadScript()
{
    QFETCH(QByteArray, content);
    QFETCH(QVariant, expected);

    const QString fileName = writeScript(content);
    QVERIFY(!fileName.isEmpty());
    MessageBoxAnswerer answerer;
    QCOMPARE(typed(load_script(fileName)), typed(expected));
    QVERIFY(answerer.seen.isEmpty());
}

void tst_Script::loadMissingFile()
{
    MessageBoxAnswerer answerer;
    QCOMPARE(load_script(m_dir.filePath(QStringLiteral("missing.js"))), QVariant());
    QCoreApplication::processEvents();
    QVERIFY(answerer.seen.isEmpty());
}

void tst_Script::loadScriptError_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("errorName");

    QTest::newRow("syntax error") << QByteArray("var a = ;") << "SyntaxError";
    QTest::newRow("reference error") << QByteArray("1;\nnoSuchName + 1") << "ReferenceError";
    QTest::newRow("thrown error") << QByteArray("throw new RangeError('dilution')")
                                  << "RangeError: dilution";
    QTest::newRow("thrown string") << QByteArray("throw 'no assay'") << "no assay";
}

void tst_Script::loadScriptError()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, errorName);

    const QString fileName = writeScript(content);
    QVERIFY(!fileName.isEmpty());
    MessageBoxAnswerer answerer;
    QCOMPARE(load_script(fileName), QVariant());
    QCOMPARE(answerer.seen.size(), 1);
    const MessageBoxAnswerer::Seen &seen = answerer.seen.first();
    QCOMPARE(seen.icon, QMessageBox::Critical);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY2(seen.text.contains(errorName), qPrintable(seen.text));
}

QTEST_MAIN(tst_Script)
#include "tst_script.moc"
