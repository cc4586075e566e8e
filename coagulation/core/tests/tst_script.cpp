#include "krglobal.h"
#include "messageboxanswerer.h"
#include "testinstallation.h"

#include <QtCore/QDateTime>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

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
    void evalRegExp();
    void evalErrorMessages_data();
    void evalErrorMessages();
    void evalDeepNesting_data();
    void evalDeepNesting();
    void evalTooLarge_data();
    void evalTooLarge();
    void evalOnWorkerThreads();
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

// A field of /proc/self/status ("VmRSS", "VmHWM") in KiB; 0 where there is
// none, and memory goes unchecked.
static qint64 statusKiB(const char *field)
{
    long long kib = 0;
#ifdef Q_OS_LINUX
    if (FILE *status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const QByteArray format = QByteArray(field) + ": %lld";
        while (std::fgets(line, sizeof line, status)) {
            if (std::sscanf(line, format.constData(), &kib) == 1)
                break;
        }
        std::fclose(status);
    }
#else
    Q_UNUSED(field)
#endif
    return kib;
}

// Bounds the time and the memory a conversion takes. A faulty one runs for
// minutes and takes gigabytes, so a thread of its own ends the run as soon as
// either bound is passed; ok() checks the exact peak after the fact.
class ResourceGuard
{
public:
    static constexpr qint64 maximumMs = 5000;
    static constexpr qint64 maximumKiB = 256 * 1024;

    ResourceGuard()
    {
#ifdef Q_OS_LINUX
        // Brings the peak resident size of the process down to the current one.
        if (FILE *clearRefs = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", clearRefs);
            std::fclose(clearRefs);
        }
#endif
        m_baseKiB = statusKiB("VmRSS");
        m_timer.start();
        m_watcher = std::thread([this] {
            std::unique_lock<std::mutex> lock(m_mutex);
            while (!m_condition.wait_for(lock, std::chrono::milliseconds(10),
                                         [this] { return m_done; })) {
                const qint64 ms = m_timer.elapsed();
                const qint64 kib = statusKiB("VmRSS") - m_baseKiB;
                if (ms > maximumMs || kib > maximumKiB)
                    qFatal("%s", qPrintable(describe(ms, kib)));
            }
        });
    }

    ~ResourceGuard()
    {
        stop();
    }

    void stop()
    {
        if (!m_watcher.joinable())
            return;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_condition.notify_one();
        m_watcher.join();
        m_elapsedMs = m_timer.elapsed();
        m_peakKiB = std::max(statusKiB("VmHWM"), statusKiB("VmRSS")) - m_baseKiB;
    }

    bool ok() const
    {
        return m_elapsedMs <= maximumMs && m_peakKiB <= maximumKiB;
    }
    QString report() const
    {
        return describe(m_elapsedMs, m_peakKiB);
    }

private:
    static QString describe(qint64 ms, qint64 kib)
    {
        return QStringLiteral("%1 ms and %2 MiB more memory, of at most %3 ms and %4 MiB")
            .arg(ms)
            .arg(kib / 1024)
            .arg(maximumMs)
            .arg(maximumKiB / 1024);
    }

    qint64 m_baseKiB = 0;
    QElapsedTimer m_timer;
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_done = false;
    std::thread m_watcher;
    qint64 m_elapsedMs = 0;
    qint64 m_peakKiB = 0;
};

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

    const QVariant none;
    QTest::newRow("large integer") << "3000000000" << QVariant(3e9);
    QTest::newRow("array hole") << "[1,,3]" << QVariant(QVariantList{1.0, none, 3.0});
    QTest::newRow("index-like names")
        << "var a = [1, 2]; a['01'] = 'x'; a['+1'] = 'y'; a" << QVariant(QVariantList{1.0, 2.0});
    QTest::newRow("trailing holes")
        << "var a = [1]; a.length = 3; a" << QVariant(QVariantList{1.0, none, none});
    QVariantList numbers;
    for (int i = 0; i < 100000; ++i)
        numbers.append(double(i));
    QTest::newRow("100000 numbers")
        << "var a = []; for (var i = 0; i < 100000; ++i) a.push(i); a" << QVariant(numbers);
    QTest::newRow("nested") << "[1, [2, [3]], {a: null, b: undefined, c: [null], d: {e: 'x'}}]"
                            << QVariant(QVariantList{
                                   1.0, QVariantList{2.0, QVariantList{3.0}},
                                   QVariantMap{{QStringLiteral("a"), none},
                                               {QStringLiteral("b"), none},
                                               {QStringLiteral("c"), QVariantList{none}},
                                               {QStringLiteral("d"),
                                                QVariantMap{{QStringLiteral("e"), "x"}}}}});
    QTest::newRow("function") << "(function () { return 1; })" << none;
    QTest::newRow("function inside")
        << "({f: function () {}, g: [Math.max], n: 1})"
        << QVariant(QVariantMap{{QStringLiteral("f"), none},
                                {QStringLiteral("g"), QVariantList{none}},
                                {QStringLiteral("n"), 1.0}});
    QTest::newRow("Error object") << "new RangeError('dilution')" << QVariant("dilution");
    QTest::newRow("Error inside") << "[new Error('no curve')]"
                                  << QVariant(QVariantList{"no curve"});
    QTest::newRow("thrown Error") << "throw new RangeError('dilution')" << QVariant("dilution");
    QTest::newRow("thrown string") << "throw 'no assay'" << QVariant("no assay");
    QTest::newRow("thrown number") << "throw 42" << QVariant(42.0);
    QTest::newRow("thrown null") << "throw null" << none;
    QTest::newRow("caught exception")
        << "try { throw 1 } catch (e) { 'recovered' }" << QVariant("recovered");
    QTest::newRow("object inside itself")
        << "var o = {a: 1}; o.self = o; o"
        << QVariant(
               QVariantMap{{QStringLiteral("a"), 1.0}, {QStringLiteral("self"), QVariantMap()}});
    QTest::newRow("array inside itself")
        << "var a = [1]; a.push(a); a" << QVariant(QVariantList{1.0, QVariantList()});
    QTest::newRow("shared, not inside itself")
        << "var s = [1]; [s, {t: s}]"
        << QVariant(QVariantList{QVariantList{1.0}, QVariantMap{{"t", QVariantList{1.0}}}});
    QTest::newRow("getter that throws")
        << "({get a() { throw new Error('getter'); }, b: 1})"
        << QVariant(QVariantMap{{QStringLiteral("a"), none}, {QStringLiteral("b"), 1.0}});
    // Only Qt 6's engine knows symbols; there they must neither crash nor show.
    QTest::newRow("symbol") << "typeof Symbol === 'function' ? Symbol('s') : undefined" << none;
    QTest::newRow("symbol in array")
        << "typeof Symbol === 'function' ? [1, Symbol('s')] : [1, undefined]"
        << QVariant(QVariantList{1.0, none});
    QTest::newRow("symbol in object")
        << "typeof Symbol === 'function' ? {s: Symbol('s')} : {s: undefined}"
        << QVariant(QVariantMap{{QStringLiteral("s"), none}});
    QTest::newRow("symbol as key")
        << "var o = {a: 1}; if (typeof Symbol === 'function') o[Symbol('k')] = 2; o"
        << QVariant(QVariantMap{{QStringLiteral("a"), 1.0}});
    QTest::newRow("thrown symbol")
        << "throw typeof Symbol === 'function' ? Symbol('s') : undefined" << none;
}

void tst_Script::evalValues()
{
    QFETCH(QString, program);
    QFETCH(QVariant, expected);

    ResourceGuard guard;
    const QVariant value = eval(program);
    guard.stop();
    QVERIFY2(guard.ok(), qPrintable(guard.report()));
    QCOMPARE(value.userType(), expected.userType());
    if (expected.userType() == QMetaType::QDateTime)
        QCOMPARE(value.toDateTime().toUTC(), expected.toDateTime());
    else
        QCOMPARE(typed(value), typed(expected));
}

// Each build hands out its own toolkit's pattern type.
void tst_Script::evalRegExp()
{
    const QVariant value = eval(QStringLiteral("/ab+c/i"));
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QCOMPARE(value.userType(), QMetaType::QRegularExpression);
    const QRegularExpression pattern = value.toRegularExpression();
    QCOMPARE(pattern.pattern(), QStringLiteral("ab+c"));
    QVERIFY(pattern.match(QStringLiteral("xABBC")).hasMatch());
#else
    QCOMPARE(value.userType(), QMetaType::QRegExp);
    const QRegExp pattern = value.toRegExp();
    QCOMPARE(pattern.pattern(), QStringLiteral("ab+c"));
    QVERIFY(pattern.indexIn(QStringLiteral("xABBC")) == 1);
#endif
}

// The engines word their errors differently; the message is text either way.
void tst_Script::evalErrorMessages_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("part");

    QTest::newRow("syntax error") << "1 +* 2"
                                  << "";
    QTest::newRow("reference error") << "1;\nnoSuchName + 1"
                                     << "noSuchName";
    QTest::newRow("type error") << "var a; a.b"
                                << "";
    QTest::newRow("stack overflow") << "function f() { return f() + 1; } f()"
                                    << "";
}

void tst_Script::evalErrorMessages()
{
    QFETCH(QString, program);
    QFETCH(QString, part);

    const QVariant value = eval(program);
    QCOMPARE(value.userType(), QMetaType::QString);
    QVERIFY(!value.toString().isEmpty());
    QVERIFY2(value.toString().contains(part), qPrintable(value.toString()));
}

// Nesting as deep as a script cares to build ends, empty, after 1000 levels
// instead of exhausting the stack.
void tst_Script::evalDeepNesting_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("arrays") << "var a = []; for (var i = 0; i < 100000; ++i) a = [a]; a";
    QTest::newRow("objects") << "var o = {}; for (var i = 0; i < 100000; ++i) o = {o: o}; o";
}

static int nesting(QVariant value)
{
    int depth = 0;
    for (;; ++depth) {
        if (value.userType() == QMetaType::QVariantList && value.toList().size() == 1)
            value = value.toList().first();
        else if (value.userType() == QMetaType::QVariantMap && value.toMap().size() == 1)
            value = value.toMap().first();
        else
            return depth;
    }
}

void tst_Script::evalDeepNesting()
{
    QFETCH(QString, program);

    const QVariant value = eval(program);
    QCOMPARE(nesting(value), 1000);
    const QVariant shallow = eval(program.replace(QLatin1String("100000"), QLatin1String("999")));
    QCOMPARE(nesting(shallow), 999);
}

// Results an engine holds cheaply but that would take minutes and gigabytes as
// variants: no result and one warning, soon and in little memory.
void tst_Script::evalTooLarge_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("sparse array") << "var a = []; a[100000000] = 1; a";
    QTest::newRow("longest array") << "var a = []; a.length = 4294967295; a";
    QTest::newRow("one array at every level")
        << "var x = []; for (var i = 0; i < 26; ++i) x = [x, x]; x";
    QTest::newRow("getters making objects") << "function node() {\n"
                                               "    return {get a() { return node(); },\n"
                                               "            get b() { return node(); }};\n"
                                               "}\n"
                                               "node()";
    // QtScript copies a string each time it is read.
    QTest::newRow("one string in many places")
        << "var s = 'x'; for (var i = 0; i < 20; ++i) s += s;\n"
           "var a = []; for (var i = 0; i < 1000; ++i) a.push(s); a";
    QTest::newRow("thrown") << "var a = []; a.length = 4294967295; throw a";
}

void tst_Script::evalTooLarge()
{
    QFETCH(QString, program);

    WarningCapture warnings;
    ResourceGuard guard;
    const QVariant value = eval(program);
    guard.stop();
    QVERIFY2(guard.ok(), qPrintable(guard.report()));
    QCOMPARE(value, QVariant());
    QCOMPARE(warnings.lines().size(), 1);
    QVERIFY2(warnings.lines().first().startsWith(QLatin1String("eval: ")),
             qPrintable(warnings.lines().first()));
}

// Callers on several threads at once each get their own results.
void tst_Script::evalOnWorkerThreads()
{
    const QList<QPair<QString, QVariant>> cases = {
        {QStringLiteral("6*7"), 42.0},
        {QStringLiteral("[1, 'x', {a: true}]"),
         QVariantList{1.0, QStringLiteral("x"), QVariantMap{{QStringLiteral("a"), true}}}},
        {QStringLiteral("throw new Error('e')"), QStringLiteral("e")},
        {QStringLiteral("var a = []; for (var i = 0; i < 5000; ++i) a = [a]; a.length"), 1.0},
    };
    std::atomic<int> wrong{0};
    const auto evaluateAll = [&] {
        for (int round = 0; round < 10; ++round) {
            for (const auto &entry : cases) {
                if (typed(eval(entry.first)) != typed(entry.second))
                    ++wrong;
            }
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back(evaluateAll);
    evaluateAll();
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(wrong.load(), 0);
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
    QTest::newRow("caught exception")
        << QByteArray("try { throw new Error('x'); } catch (e) { 'recovered' }")
        << QVariant(QStringLiteral("recovered"));
    QTest::newRow("nested values")
        << QByteArray("({runs: [1, 2], f: function () {}})")
        << QVariant(QVariantMap{{QStringLiteral("runs"), QVariantList{1.0, 2.0}},
                                {QStringLiteral("f"), QVariant()}});
    QTest::newRow("too large") << QByteArray("var a = [];\na.length = 4294967295;\na")
                               << QVariant();
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
    QTest::newRow("thrown number") << QByteArray("throw 42") << "42";
    QTest::newRow("thrown null") << QByteArray("throw null") << "null";
    QTest::newRow("thrown undefined") << QByteArray("throw undefined") << "undefined";
    QTest::newRow("thrown in a function")
        << QByteArray("function f() { throw new Error('deep'); }\nf()") << "Error: deep";
    QTest::newRow("Error as the value")
        << QByteArray("new TypeError('no curve')") << "TypeError: no curve";
    QTest::newRow("stack overflow")
        << QByteArray("function f() { return f() + 1; } f()") << "RangeError";
    QTest::newRow("thrown symbol")
        << QByteArray("throw typeof Symbol === 'function' ? Symbol('assay') : 'assay'") << "assay";
    QTest::newRow("thrown array") << QByteArray("throw ['PT', 'APTT']") << "PT,APTT";
    // Its text would join 4294967295 holes.
    QTest::newRow("thrown huge array")
        << QByteArray("var a = []; a.length = 4294967295; throw a") << "4294967295";
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
