#include "krglobal.h"

#include "corelogging_p.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QFile>
#include <QtCore/QTextStream>
#include <QtCore/QVector>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtQml/QJSEngine>
#include <QtQml/QJSValueIterator>
#else
#include <QtScript/QScriptEngine>
#include <QtScript/QScriptValueIterator>

#include <mutex>
#endif

#include <algorithm>

// Qt 5 runs scripts in QtScript, Qt 6 in QJSEngine. Both engines' own
// conversions to QVariant are left aside: they differ from each other, and
// Qt 6's crashes on a Symbol and hands out functions bound to an engine that
// is gone by the time the caller looks. One conversion serves both.

namespace {

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)

using ScriptEngine = QJSEngine;
using ScriptValue = QJSValue;
using ScriptValueIterator = QJSValueIterator;

bool isFunction(const QJSValue &value)
{
    return value.isCallable();
}

QVariant regExpVariant(const QJSValue &value)
{
    return value.toVariant(); // a QRegularExpression
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

#endif

// Deeper nesting than any result a caller reads, but far from exhausting the
// stack of a worker thread.
constexpr int maximumNesting = 1000;

QVariant toVariant(const ScriptValue &value, QVector<ScriptValue> &enclosing);

// An array as a list, another object as a map of its own properties. An
// object inside itself, or nested beyond maximumNesting, stays empty.
QVariant containerToVariant(const ScriptValue &value, QVector<ScriptValue> &enclosing)
{
    const bool isArray = value.isArray();
    QVariantList list;
    QVariantMap map;
    const bool recursive =
        std::any_of(enclosing.cbegin(), enclosing.cend(),
                    [&value](const ScriptValue &outer) { return outer.strictlyEquals(value); });
    if (!recursive && enclosing.size() < maximumNesting) {
        enclosing.append(value);
        if (isArray) {
            const auto length = quint32(value.property(QStringLiteral("length")).toNumber());
            for (quint32 i = 0; i < length; ++i)
                list.append(toVariant(value.property(i), enclosing));
        } else {
            for (ScriptValueIterator it(value); it.hasNext();) {
                it.next();
                map.insert(it.name(), toVariant(it.value(), enclosing));
            }
        }
        enclosing.removeLast();
    }
    return isArray ? QVariant(list) : QVariant(map);
}

// Numbers as double, strings, booleans, dates as date-times, regular
// expressions, Error objects as their message, arrays as lists and other
// objects as maps; undefined, null, functions and symbols as an invalid
// variant.
QVariant toVariant(const ScriptValue &value, QVector<ScriptValue> &enclosing)
{
    if (value.isBool())
        return value.toBool();
    if (value.isNumber())
        return value.toNumber();
    if (value.isString())
        return value.toString();
    if (!value.isObject())
        return QVariant();
    if (value.isDate())
        return value.toDateTime();
    // Before functions: QtScript's regular expressions can be called.
    if (value.isRegExp())
        return regExpVariant(value);
    if (value.isError())
        return value.property(QStringLiteral("message")).toString();
    if (isFunction(value))
        return QVariant();
    return containerToVariant(value, enclosing);
}

QVariant toVariant(const ScriptValue &value)
{
    QVector<ScriptValue> enclosing;
    return toVariant(value, enclosing);
}

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
    QString failure; // the thrown value or Error object as text
};

Outcome run(const QString &program, const QString &fileName)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
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
#else
    const ScriptValue value = engine.evaluate(program, fileName, 1);
    const bool thrown = engine.hasUncaughtException();
#endif
    const bool failed = thrown || value.isError();
    return {toVariant(value), failed, failed ? value.toString() : QString()};
}

} // namespace

QVariant eval(const QString &program)
{
    if (!canRunScripts("eval"))
        return QVariant();
    return run(program, QString()).value;
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

    const Outcome outcome = run(program, file.fileName());
    // A thrown value need not be an Error object ("throw 'no assay'"); it is
    // a failure all the same and must not come back as the script's result.
    // The box comes after the engine is gone: its event loop may run scripts.
    if (outcome.failed) {
        critical(outcome.failure, QMessageBox::Ok, QMessageBox::NoButton);
        return QVariant();
    }
    return outcome.value;
}
