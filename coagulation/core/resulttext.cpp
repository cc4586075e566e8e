#include "analysisresult.h"
#include "analysisresult_p.h"

#include "displaysettings_p.h"
#include "resultparser_p.h"

// Display text, colour and parsing, from the texts and colours configured at
// the time of the call.

namespace {

// Never both report marks (the lower one wins) and never both arrows (the
// lower one wins), so at most three marks are printed.
QString prefixOf(const DisplaySettings &settings, int flags)
{
    QString text;
    for (int mark = 0; mark < DisplaySettings::firstArrow; ++mark) {
        const bool shadowed =
            mark == DisplaySettings::UpperReportMark && (flags & kr::LowerReportLimitFlag);
        if ((flags & DisplaySettings::markFlags[mark]) && !shadowed)
            text += settings.marks[mark];
    }
    return text;
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
    return prefixOf(DisplaySettings::current(), d->flags & mask);
}

QString AnalysisResult::suffix() const
{
    const QString *arrow = suffixOf(DisplaySettings::current(), d->flags);
    return arrow ? *arrow : QString();
}

QString AnalysisResult::toString(Format format, char numberFormat, int precision) const
{
    if (precision < 0) {
        numberFormat = 'g';
        precision = 6;
    }
    const DisplaySettings &settings = DisplaySettings::current();

    if (d->error < ValidNumber) {
        if (d->error == NotClotted || isNotClottedValue(d->value))
            return settings.notClotted;
        if (d->error == NullResult)
            return QString();
        return settings.noResult;
    }

    const bool full = format == FullText;
    const int shown =
        full ? d->flags : d->flags & (kr::LowerReportLimitFlag | kr::UpperReportLimitFlag);
    const QString number = QString::number(d->value, numberFormat, precision);
    const QString *arrow = full ? suffixOf(settings, d->flags) : nullptr;
    if (!(shown
          & (kr::ManualInputFlag | kr::DilutionResultFlag | kr::LowerReportLimitFlag
             | kr::UpperReportLimitFlag))
        && !(arrow && !arrow->isEmpty()))
        return number;

    QString text = prefixOf(settings, shown);
    text.reserve(text.size() + number.size() + (arrow ? arrow->size() : 0) + 2);
    if (!text.isEmpty())
        text += QLatin1Char(' ');
    text += number;
    if (arrow && !arrow->isEmpty()) {
        text += QLatin1Char(' ');
        text += *arrow;
    }
    return text;
}

QVariant AnalysisResult::foregroundRole() const
{
    const DisplaySettings &settings = DisplaySettings::current();
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
    : AnalysisResult()
{
    const DisplaySettings &settings = DisplaySettings::current();
    const ResultTextParts parts = splitResultText(text, settings);
    if (!parts.matched)
        return;
    setFlags(parts.flags);
    if (!settings.notClotted.isEmpty() && parts.number == settings.notClotted) {
        setValue(NotClotted, notClottedValue);
        return;
    }
    bool ok = false;
    const double value = parts.number.toDouble(&ok);
    if (ok)
        setValue(errorCode(parts.flags), value);
}

AnalysisResult AnalysisResult::fromString(const QString &text)
{
    return AnalysisResult(text);
}
