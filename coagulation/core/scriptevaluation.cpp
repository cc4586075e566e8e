#include "krglobal.h"

#include "corelogging_p.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QFile>
#include <QtCore/QTextStream>
#include <QtCore/QVector>

// Qt 6 has QJSEngine only; Qt 5 builds choose QtScript (the default) or
// QJSEngine, which is all a build without QtScript has.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0) || defined(COAGULATION_SCRIPT_QJSENGINE)
#define SCRIPTS_IN_QJSENGINE 1
#endif

#ifdef SCRIPTS_IN_QJSENGINE
#include <QtQml/QJSEngine>
#include <QtQml/QJSValueIterator>
#else
#include <QtScript/QScriptEngine>
#include <QtScript/QScriptValueIterator>

#include <mutex>
#endif

#include <algorithm>

// Scripts run in QtScript or in QJSEngine. Both engines' own conversions to
// QVariant are left aside: they differ from each other, and Qt 6's crashes on
// a Symbol and hands out functions bound to an engine that is gone by the
// time the caller looks. One conversion serves both.

namespace {

#ifdef SCRIPTS_IN_QJSENGINE

using ScriptEngine = QJSEngine;
using ScriptValue = QJSValue;
using ScriptValueIterator = QJSValueIterator;

bool isFunction(const QJSValue &value)
{
    return value.isCallable();
}

QVariant regExpVariant(const QJSValue &value)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return value.toVariant(); // a QRegularExpression
#else
    // A QRegExp, as from QtScript: Qt 5 builds agree whatever their engine.
    return QRegExp(value.property(QStringLiteral("source")).toString(),
                   value.property(QStringLiteral("ignoreCase")).toBool() ? Qt::CaseInsensitive
                                                                         : Qt::CaseSensitive,
                   QRegExp::RegExp2);
#endif
}

bool arrayIndex(const QJSValueIterator &it, quint32 *index)
{
    // Digits in their shortest form only: "01" and "+1" are other properties.
    const QString name = it.name();
    bool ok = !name.isEmpty() && (name.size() == 1 || name.front() != QLatin1Char('0'))
        && std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.isDigit(); });
    *index = ok ? name.toUInt(&ok) : 0;
    return ok;
}

#else

using ScriptEngine = QScriptEngine;
using ScriptValue = QScriptValue;
using ScriptValueIterator = QScriptValueIterator;

bool isFunction(const QScriptValue &value)
{
    return value.isFunction();
}

QVariant regExpVariant(const QScriptValue &value)
{
    return value.toRegExp();
}

bool arrayIndex(const QScriptValueIterator &it, quint32 *index)
{
    bool ok = false;
    *index = it.scriptName().toArrayIndex(&ok);
    return ok;
}

#endif

// Deeper nesting than any result a caller reads, but far from exhausting the
// stack of a worker thread.
constexpr int maximumNesting = 1000;

// The most of a result that is converted. An engine holds cheaply what takes
// gigabytes as variants: an array of length 4294967295 with nothing in it, one
// array shared by every level of a tree, getters that make a new object on
// each read; QtScript copies a string on every read, so one long string in a
// thousand places costs a thousand copies. Every value counts, holes included,
// and every list and map once more for each level it is nested in; the
// characters of strings and keys count apart. A result at the limits takes
// a second or two and under 200 MB to convert; anything beyond is given up.
constexpr qint64 maximumValues = 1 << 20;
constexpr qint64 maximumCharacters = 1 << 25;

// Numbers as double, strings, booleans, dates as date-times, regular
// expressions, Error objects as their message, arrays as lists and other
// objects as maps; undefined, null, functions and symbols as an invalid
// variant. An object inside itself, or nested beyond maximumNesting, stays
// empty; a result over the budget above is no result at all.
class Conversion
{
public:
    // Invalid after one warning when the result is over budget.
    QVariant convert(const ScriptValue &value, const char *function)
    {
        QVariant result;
        if (spend(1))
            result = toVariant(value);
        if (!overBudget())
            return result;
        qCWarning(lcCore,
                  "%s: the script's result holds more than %lld values or %lld characters; it is "
                  "dropped",
                  function, maximumValues, maximumCharacters);
        return QVariant();
    }

private:
    bool overBudget() const { return m_values < 0; }

    void giveUp() { m_values = -1; }

    // False, and nothing left for later, when over budget.
    bool spend(qint64 values, qint64 characters = 0)
    {
        if (overBudget() || values > m_values || characters > m_characters) {
            giveUp();
            return false;
        }
        m_values -= values;
        m_characters -= characters;
        return true;
    }

    QVariant charged(const QString &text)
    {
        return spend(0, text.size()) ? QVariant(text) : QVariant();
    }

    QVariant toVariant(const ScriptValue &value)
    {
        if (value.isBool())
            return value.toBool();
        if (value.isNumber())
            return value.toNumber();
        if (value.isString())
            return charged(value.toString());
        if (!value.isObject())
            return QVariant();
        if (value.isDate())
            return value.toDateTime();
        // Before functions: QtScript's regular expressions can be called.
        if (value.isRegExp()) {
            const qint64 characters = value.property(QStringLiteral("source")).toString().size();
            return spend(0, characters) ? regExpVariant(value) : QVariant();
        }
        if (value.isError())
            return charged(value.property(QStringLiteral("message")).toString());
        if (isFunction(value))
            return QVariant();

        // A container counts once more for every level around it: finding
        // out whether it is inside itself compares it with each of them.
        if (!spend(m_enclosing.size() + 1))
            return QVariant();
        const bool isArray = value.isArray();
        const bool recursive =
            std::any_of(m_enclosing.cbegin(), m_enclosing.cend(),
                        [&value](const ScriptValue &outer) { return outer.strictlyEquals(value); });
        if (recursive || m_enclosing.size() >= maximumNesting)
            return isArray ? QVariant(QVariantList()) : QVariant(QVariantMap());
        m_enclosing.append(value);
        const QVariant container = isArray ? listOf(value) : mapOf(value);
        m_enclosing.removeLast();
        return container;
    }

    // Holes are found by what the array has, not by asking for each index up
    // to its length, yet keep their places in the list. The length is paid
    // for before anything is allocated: alone it can ask for billions.
    QVariant listOf(const ScriptValue &array)
    {
        const double length = array.property(QStringLiteral("length")).toNumber();
        if (!(length >= 0 && length <= double(m_values))) {
            giveUp();
            return QVariant();
        }
        const int size = int(length);
        spend(size);
        QVariantList list;
        list.reserve(size);
        for (int i = 0; i < size; ++i)
            list.append(QVariant());
        for (ScriptValueIterator it(array); it.hasNext() && !overBudget();) {
            it.next();
            quint32 index;
            if (arrayIndex(it, &index) && index < quint32(size))
                list[int(index)] = toVariant(it.value());
        }
        return list;
    }

    QVariant mapOf(const ScriptValue &object)
    {
        QVariantMap map;
        for (ScriptValueIterator it(object); it.hasNext();) {
            it.next();
            const QString name = it.name();
            if (!spend(1, name.size()))
                break;
            map.insert(name, toVariant(it.value()));
        }
        return map;
    }

    QVector<ScriptValue> m_enclosing;
    qint64 m_values = maximumValues;
    qint64 m_characters = maximumCharacters;
};

// Both engines abort the process when there is no application object yet.
bool canRunScripts(const char *function)
{
    if (QCoreApplication::instance())
        return true;
    qCWarning(lcCore, "%s: no script runs before the application object exists", function);
    return false;
}

// What a program left behind, taken out of its engine.
struct Outcome
{
    QVariant value;
    bool failed; // an exception was thrown, or the value is an Error object
    QString failure; // the thrown value or Error object as text, when shown
};

// What becomes of a thrown value or an Error object: eval gives it back as its
// result, load_script shows it.
enum class Failure { AsResult, Shown };

#if defined(SCRIPTS_IN_QJSENGINE) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// Qt 5's QJSEngine hands a thrown value back as if the program had computed
// it. Indirect eval runs the program in the global scope, as evaluate() would,
// and the try around it tells the two apart.
QJSValue evaluateCatching(QJSEngine &engine, const QString &program, bool *thrown)
{
    QJSValue runner = engine.evaluate(QStringLiteral("(function (program) {\n"
                                                     "    try {\n"
                                                     "        return [(0, eval)(program), false];\n"
                                                     "    } catch (e) {\n"
                                                     "        return [e, true];\n"
                                                     "    }\n"
                                                     "})"));
    const QJSValue outcome = runner.call({QJSValue(program)});
    *thrown = outcome.property(1).toBool();
    return outcome.property(0);
}
#endif

// A thrown value as the box shows it, kept to what a box can show. An
// array's text joins every index up to its length, holes included, so one of
// length 4294967295 is only described.
QString failureText(const ScriptValue &value)
{
    constexpr int longestText = 4096;
    constexpr double longestJoinedArray = 4096;
    QString text;
    if (value.isArray()
        && !(value.property(QStringLiteral("length")).toNumber() <= longestJoinedArray)) {
        text = QStringLiteral("[Array of %1 elements]")
                   .arg(value.property(QStringLiteral("length")).toNumber(), 0, 'f', 0);
    } else {
        text = value.toString();
    }
    if (text.size() > longestText)
        text = text.left(longestText) + QStringLiteral("…");
    return text;
}

Outcome run(const QString &program, const QString &fileName, const char *function, Failure failure)
{
#ifndef SCRIPTS_IN_QJSENGINE
    // QtScript keeps the stack bounds of the thread it last ran on in
    // variables that all engines share, and its garbage collector scans the
    // stack between them: engines on two threads at once may scan the wrong
    // stack. So one engine at a time.
    static std::mutex oneEngineAtATime;
    const std::lock_guard<std::mutex> locker(oneEngineAtATime);
#endif
    ScriptEngine engine;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // A thrown value comes back as the result; only the stack trace of the
    // exception tells it from a value the program computed.
    QStringList exceptionStackTrace;
    const ScriptValue value = engine.evaluate(program, fileName, 1, &exceptionStackTrace);
    const bool thrown = !exceptionStackTrace.isEmpty();
#elif defined(SCRIPTS_IN_QJSENGINE)
    Q_UNUSED(fileName) // indirect eval takes none
    bool thrown = false;
    const ScriptValue value = evaluateCatching(engine, program, &thrown);
#else
    const ScriptValue value = engine.evaluate(program, fileName, 1);
    const bool thrown = engine.hasUncaughtException();
#endif
    const bool failed = thrown || value.isError();
    if (failed && failure == Failure::Shown)
        return {QVariant(), true, failureText(value)};
    return {Conversion().convert(value, function), failed, QString()};
}

} // namespace

QVariant eval(const QString &program)
{
    if (!canRunScripts("eval"))
        return QVariant();
    return run(program, QString(), "eval", Failure::AsResult).value;
}

QVariant load_script(const QString &fileName)
{
    if (!canRunScripts("load_script"))
        return QVariant();
    QFile file(fileName);
    QString program;
    // An unreadable file runs as the empty program; reading an unopened file
    // would only add a warning.
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream stream(&file);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        stream.setEncoding(QStringConverter::Utf8);
#else
        stream.setCodec("UTF-8");
#endif
        program = stream.readAll();
    }

    const Outcome outcome = run(program, file.fileName(), "load_script", Failure::Shown);
    // A thrown value need not be an Error object ("throw 'no assay'"); it is
    // a failure all the same and must not come back as the script's result.
    // The box comes after the engine is gone: its event loop may run scripts.
    if (outcome.failed) {
        critical(outcome.failure, QMessageBox::Ok, QMessageBox::NoButton);
        return QVariant();
    }
    return outcome.value;
}
