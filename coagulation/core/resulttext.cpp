#include "analysisresult.h"
#include "analysisresult_p.h"

#include "displaysettings_p.h"
#include "resultparser_p.h"

#include <algorithm>
#include <charconv>

// Display text, colour and parsing, from the texts and colours configured at
// the time of the call.

namespace {

// The marks printed before the number, in order, into `marks`; their count.
// Never both report marks (the lower one wins) and never both arrows (the
// lower one wins), so at most three marks are printed.
int prefixMarks(const DisplaySettings &settings, int flags,
                const QString *marks[DisplaySettings::firstArrow])
{
    int count = 0;
    for (int mark = 0; mark < DisplaySettings::firstArrow; ++mark) {
        const bool shadowed =
            mark == DisplaySettings::UpperReportMark && (flags & kr::LowerReportLimitFlag);
        if ((flags & DisplaySettings::markFlags[mark]) && !shadowed
            && !settings.marks[mark].isEmpty())
            marks[count++] = &settings.marks[mark];
    }
    return count;
}

QString prefixOf(const DisplaySettings &settings, int flags)
{
    const QString *marks[DisplaySettings::firstArrow];
    const int count = prefixMarks(settings, flags, marks);
    QString text;
    for (int i = 0; i < count; ++i)
        text += *marks[i];
    return text;
}

// QString::toDouble, without its detour through the locale for the plain
// ASCII numbers that make up nearly every cell; both round correctly, so they
// give the same double. Anything else (digits of other scripts, a value out
// of range) goes to QString::toDouble, whose answer stands.
double toDouble(QStringView number, bool *ok)
{
    char ascii[64];
    const auto size = number.size();
    if (size < qsizetype(sizeof ascii)) {
        qsizetype length = 0;
        for (const QChar c : number) {
            if (c.unicode() > 127)
                break;
            ascii[length++] = char(c.unicode());
        }
        if (length == size) {
            // from_chars reads no plus sign.
            const char *first = ascii + (length && ascii[0] == '+');
            double value = 0.0;
            const auto [end, error] = std::from_chars(first, ascii + length, value);
            if (error == std::errc() && end == ascii + length) {
                *ok = true;
                return value;
            }
        }
    }
    // The text outlives the call, so the number is read where it stands.
    return QString::fromRawData(number.data(), int(size)).toDouble(ok);
}

const QString *suffixOf(const DisplaySettings &settings, int flags)
{
    for (int mark = DisplaySettings::firstArrow; mark < DisplaySettings::MarkCount; ++mark) {
        if (flags & DisplaySettings::markFlags[mark])
            return &settings.marks[mark];
    }
    return nullptr;
}

} // namespace

QString AnalysisResult::prefix(int mask) const
{
    return prefixOf(*DisplaySettings::Current(), d->flags & mask);
}

QString AnalysisResult::suffix() const
{
    const DisplaySettings::Current settings;
    const QString *arrow = suffixOf(*settings, d->flags);
    return arrow ? *arrow : QString();
}

QString AnalysisResult::toString(Format format, char numberFormat, int precision) const
{
    if (precision < 0) {
        numberFormat = 'g';
        precision = 6;
    }
    const DisplaySettings::Current current;
    const DisplaySettings &settings = *current;

    if (d->error < ValidNumber) {
        if (d->error == NotClotted || isNotClottedValue(d->value))
            return settings.notClotted;
        if (d->error == NullResult)
            return QString();
        return settings.noResult;
    }

    // One allocation for the whole text: cells are formatted on every repaint.
    const bool full = format == FullText;
    const int shown =
        full ? d->flags : d->flags & (kr::LowerReportLimitFlag | kr::UpperReportLimitFlag);
    const QString number = QString::number(d->value, numberFormat, precision);
    const QString *marks[DisplaySettings::firstArrow];
    const int markCount = prefixMarks(settings, shown, marks);
    int length = number.size();
    for (int i = 0; i < markCount; ++i)
        length += marks[i]->size();
    const QString *arrow = full ? suffixOf(settings, d->flags) : nullptr;
    if (arrow && arrow->isEmpty())
        arrow = nullptr;
    if (!markCount && !arrow)
        return number;

    QString text(length + (markCount ? 1 : 0) + (arrow ? 1 + arrow->size() : 0), Qt::Uninitialized);
    QChar *out = text.data();
    const auto append = [&out](const QString &part) {
        out = std::copy(part.constBegin(), part.constEnd(), out);
    };
    for (int i = 0; i < markCount; ++i)
        append(*marks[i]);
    if (markCount)
        *out++ = QLatin1Char(' ');
    append(number);
    if (arrow) {
        *out++ = QLatin1Char(' ');
        append(*arrow);
    }
    return text;
}

QVariant AnalysisResult::foregroundRole() const
{
    const DisplaySettings::Current current;
    const DisplaySettings &settings = *current;
    if (d->error < ValidNumber)
        return settings.brushes[DisplaySettings::NullResultColour];
    // Unlike the marks, the upper limits win here.
    static const struct
    {
        kr::ResultFlag flag;
        DisplaySettings::Colour colour;
    } rules[] = {
        {kr::UpperReportLimitFlag, DisplaySettings::UpperReportColour},
        {kr::LowerReportLimitFlag, DisplaySettings::LowerReportColour},
        {kr::UpperMarkLimitFlag, DisplaySettings::UpperLimitColour},
        {kr::LowerMarkLimitFlag, DisplaySettings::LowerLimitColour},
    };
    for (const auto &rule : rules) {
        if (d->flags & rule.flag)
            return settings.brushes[rule.colour];
    }
    return QVariant();
}

QVariant AnalysisResult::toVariant() const
{
    return d->error >= ValidNumber ? QVariant(d->value) : QVariant();
}

AnalysisResult::AnalysisResult(const QString &text)
{
    const DisplaySettings::Current current;
    const DisplaySettings &settings = *current;
    const ResultTextParts parts = splitResultText(text, settings);
    if (!parts.matched) {
        d = &shared_null;
        return;
    }
    d = new Data;
    d->flags = parts.flags;
    if (!settings.notClotted.isEmpty() && parts.number == settings.notClotted) {
        d->error = NotClotted;
        d->value = notClottedValue;
        return;
    }
    bool ok = false;
    const double value = toDouble(parts.number, &ok);
    if (ok) {
        d->error = errorCode(parts.flags);
        d->value = value;
    }
}

AnalysisResult AnalysisResult::fromString(const QString &text)
{
    return AnalysisResult(text);
}

AnalysisResult AnalysisResult::fromString(const QString &text, bool *ok)
{
    AnalysisResult result(text);
    if (ok) {
        const QString trimmed = text.trimmed();
        *ok = result.error() >= NotClotted || trimmed.isEmpty()
            || trimmed == DisplaySettings::Current()->noResult;
    }
    return result;
}
