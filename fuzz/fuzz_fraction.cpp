// The ratio scanner against the pattern it implements: the same first match
// and value as ([+-]?\d+(?:\.\d*)?)\s*[:/]\s*([+-]?\d+(?:\.\d*)?) searched
// with QRegExp, each decimal digit read by its digit value. Beyond that no
// input may give NaN with success, and the time per input must stay linear
// (a quadratic search took seconds on a few thousand digits).
#include "krglobal.h"

#include <QRegExp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

double digitValues(const QString &number)
{
    QString ascii;
    for (const QChar c : number)
        ascii += c.isDigit() ? QChar(QLatin1Char(char('0' + c.digitValue()))) : c;
    return ascii.toDouble();
}

// The reference: the backtracking search of the original pattern.
double reference(const QString &text, bool *ok)
{
    static QRegExp pattern(
        QStringLiteral(R"rx(([+-]?\d+(?:\.\d*)?)\s*[:/]\s*([+-]?\d+(?:\.\d*)?))rx"));
    *ok = pattern.indexIn(text) >= 0;
    if (!*ok)
        return 0.0;
    const double ratio = digitValues(pattern.cap(1)) / digitValues(pattern.cap(2));
    *ok = !std::isnan(ratio);
    return *ok ? ratio : 0.0;
}

[[noreturn]] void fail(const char *what, const QString &text, double expected, double actual)
{
    fprintf(stderr, "%s on \"%s\": expected %.17g, got %.17g\n", what, qPrintable(text), expected,
            actual);
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));

    bool ok = true;
    const auto started = std::chrono::steady_clock::now();
    const double value = fraction(text, &ok);
    const auto elapsed = std::chrono::steady_clock::now() - started;

    if (ok && std::isnan(value))
        fail("NaN reported as a ratio", text, 0.0, value);
    if (!ok && value != 0.0)
        fail("a value without a ratio", text, 0.0, value);
    bool expectedOk = false;
    const double expected = reference(text, &expectedOk);
    if (ok != expectedOk || (value != expected && !(std::isnan(value) && std::isnan(expected))))
        fail("differs from the pattern", text, expected, value);

    // Generous for a sanitizer build on a loaded machine, yet far below what a
    // quadratic search needs on a few thousand digits.
    const auto limit = std::chrono::milliseconds(50) + std::chrono::microseconds(5) * text.size();
    if (elapsed > limit)
        fail("too slow", text.left(40), 0.0,
             double(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
    return 0;
}
